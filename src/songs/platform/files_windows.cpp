// The wide-character API under UTF-8 paths: every path is converted at the
// call, so that a song under C:\Users\张三\音乐 opens whatever the system's
// ANSI code page is. Handles are opened sharing read, write and delete, which
// is what POSIX gives every open, so that a file open here can still be
// moved or replaced by the library's other calls.
#include "songs/platform/files.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <io.h>

namespace songs::files {

const std::string_view kSeparators = "/\\";
const std::string_view kNotInNames = "/\\:*?\"<>|";

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// 100 ns steps from 1601 to 1970.
constexpr std::int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr std::int64_t kFileTimePerSecond = 10000000;
// One ReadFile or WriteFile moves at most this much; callers loop.
constexpr std::size_t kLargestTransfer = std::size_t(1) << 30;

int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_DELETE_PENDING:
    case ERROR_CURRENT_DIRECTORY:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NOT_ENOUGH_QUOTA:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return ENAMETOOLONG;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return ENOTSUP;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_NEGATIVE_SEEK:
        return EINVAL;
    case ERROR_OPERATION_ABORTED:
        return EINTR;
    default:
        return EIO;
    }
}

bool failWith(DWORD error)
{
    errno = errnoOf(error);
    return false;
}

// A path that is no UTF-8 names no file here: every name on Windows is UTF-16.
bool toWide(const std::string& utf8, std::wstring& out)
{
    out.clear();
    if (utf8.empty())
        return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0) {
        errno = EILSEQ;
        return false;
    }
    out.resize(std::size_t(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), out.data(), n);
    return true;
}

std::string toUtf8(const wchar_t* wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(std::size_t(n - 1));
    return out;
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows refuses a folder where a file is wanted as "access denied"; POSIX
// callers word that as a folder.
int errnoFor(DWORD error, const std::wstring& path)
{
    return error == ERROR_ACCESS_DENIED && isFolder(path) ? EISDIR : errnoOf(error);
}

HANDLE handleOf(int fd)
{
    const auto h = HANDLE(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE)
        errno = EBADF;
    return h;
}

int adopt(HANDLE h, int access)
{
    const int fd = _open_osfhandle(intptr_t(h), access | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

// A symbolic link or a junction: what lstat calls a link. Other reparse
// points (a cloud placeholder, a deduplicated file) are the file itself.
bool isLink(HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO tag {};
    return GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT);
}

bool fill(HANDLE h, Info& info, bool linkIsOther)
{
    info = Info{};
    if (GetFileType(h) != FILE_TYPE_DISK)
        return true;  // a pipe or a device: Other
    BY_HANDLE_FILE_INFORMATION about {};
    if (!GetFileInformationByHandle(h, &about))
        return failWith(GetLastError());
    const bool folder = about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    info.kind = linkIsOther && isLink(h) ? Kind::Other : folder ? Kind::Folder : Kind::File;
    info.size = std::int64_t(std::uint64_t(about.nFileSizeHigh) << 32 | about.nFileSizeLow);
    const std::int64_t written =
        std::int64_t(std::uint64_t(about.ftLastWriteTime.dwHighDateTime) << 32 | about.ftLastWriteTime.dwLowDateTime);
    const std::int64_t sinceEpoch = written - kUnixEpochInFileTime;
    // Whole seconds towards the past, as st_mtime has them.
    info.modified = sinceEpoch >= 0 ? sinceEpoch / kFileTimePerSecond : -((-sinceEpoch + kFileTimePerSecond - 1) / kFileTimePerSecond);
    info.device = about.dwVolumeSerialNumber;
    info.id = std::uint64_t(about.nFileIndexHigh) << 32 | about.nFileIndexLow;
    info.mode = folder ? 0777 : (about.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return true;
}

std::uint64_t mixed(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

}  // namespace

bool InfoOf(const std::string& path, Info& info, bool followLinks)
{
    std::wstring wide;
    if (!toWide(path, wide))
        return false;
    // Attributes only: opening a file this way never waits and never
    // disturbs a device; backup semantics lets a folder open too.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE h = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return failWith(GetLastError());
    const bool ok = fill(h, info, !followLinks);
    CloseHandle(h);
    return ok;
}

bool InfoOf(int fd, Info& info)
{
    const HANDLE h = handleOf(fd);
    return h != INVALID_HANDLE_VALUE && fill(h, info, false);
}

int OpenToRead(const std::string& path, bool* notAFile)
{
    if (notAFile)
        *notAFile = false;
    std::wstring wide;
    if (!toWide(path, wide))
        return -1;
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED && isFolder(wide)) {
            if (notAFile)
                *notAFile = true;
            errno = EISDIR;
            return -1;
        }
        failWith(error);
        return -1;
    }
    // A pipe or a device is never read: a read could wait for ever.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        if (notAFile)
            *notAFile = true;
        errno = EINVAL;
        return -1;
    }
    return adopt(h, _O_RDONLY);
}

int OpenToWrite(const std::string& path, unsigned flags)
{
    std::wstring wide;
    if (!toWide(path, wide))
        return -1;
    const bool create = flags & kCreate, truncate = flags & kTruncate, noFollow = flags & kNoFollow;
    const DWORD access = (flags & kWriteOnly) ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = create ? (truncate ? CREATE_ALWAYS : OPEN_ALWAYS) : (truncate ? TRUNCATE_EXISTING : OPEN_EXISTING);
    // Not following opens a link itself, which is then refused: nothing is
    // made or locked where it points.
    const DWORD attributes = FILE_ATTRIBUTE_NORMAL | (noFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE h = CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errnoFor(GetLastError(), wide);
        return -1;
    }
    if (noFollow && isLink(h)) {
        CloseHandle(h);
        errno = ELOOP;
        return -1;
    }
    return adopt(h, (flags & kWriteOnly) ? _O_WRONLY : _O_RDWR);
}

bool Close(int fd) { return _close(fd) == 0; }

long long ReadAt(int fd, void* data, std::size_t size, std::int64_t offset)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    OVERLAPPED at {};
    at.Offset = DWORD(std::uint64_t(offset));
    at.OffsetHigh = DWORD(std::uint64_t(offset) >> 32);
    DWORD done = 0;
    if (!ReadFile(h, data, DWORD(std::min(size, kLargestTransfer)), &done, &at)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        failWith(error);
        return -1;
    }
    return done;
}

long long WriteAt(int fd, const void* data, std::size_t size, std::int64_t offset)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    OVERLAPPED at {};
    at.Offset = DWORD(std::uint64_t(offset));
    at.OffsetHigh = DWORD(std::uint64_t(offset) >> 32);
    DWORD done = 0;
    if (!WriteFile(h, data, DWORD(std::min(size, kLargestTransfer)), &done, &at)) {
        failWith(GetLastError());
        return -1;
    }
    return done;
}

bool SyncData(int fd)
{
    const HANDLE h = handleOf(fd);
    return h != INVALID_HANDLE_VALUE && (FlushFileBuffers(h) || failWith(GetLastError()));
}

void SyncFolder(const std::string&) {}

bool Truncate(int fd, std::int64_t size)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILE_END_OF_FILE_INFO end {};
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end) || failWith(GetLastError());
}

int CreateTempIn(const std::string& folder, unsigned, std::string& tempPath)
{
    // Letters of one case only: the file system does not tell "A" from "a".
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> made {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        LARGE_INTEGER now {};
        QueryPerformanceCounter(&now);
        std::uint64_t x = mixed(std::uint64_t(now.QuadPart) ^ std::uint64_t(GetCurrentProcessId()) << 40 ^ ++made);
        std::string name = ".sonarel-";
        for (int i = 0; i < 6; ++i, x /= 36)
            name += kLetters[x % 36];
        tempPath = folder + "/" + name;
        std::wstring wide;
        if (!toWide(tempPath, wide))
            return -1;
        const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return adopt(h, _O_RDWR);
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            failWith(error);
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

bool Replace(const std::string& from, const std::string& to)
{
    std::wstring a, b;
    return toWide(from, a) && toWide(to, b) &&
           (MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
            failWith(GetLastError()));
}

bool MoveNoReplace(const std::string& from, const std::string& to)
{
    std::wstring a, b;
    return toWide(from, a) && toWide(to, b) &&
           (MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_WRITE_THROUGH) || failWith(GetLastError()));
}

bool Remove(const std::string& path)
{
    std::wstring wide;
    if (!toWide(path, wide))
        return false;
    if (DeleteFileW(wide.c_str()))
        return true;
    errno = errnoFor(GetLastError(), wide);
    return false;
}

bool MakeFolder(const std::string& path)
{
    std::wstring wide;
    return toWide(path, wide) && (CreateDirectoryW(wide.c_str(), nullptr) || failWith(GetLastError()));
}

bool TryLock(int fd)
{
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // The first byte stands for the whole file: every holder locks the same one.
    OVERLAPPED at {};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return true;
    const DWORD error = GetLastError();
    errno = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK : errnoOf(error);
    return false;
}

std::vector<std::string> FileNames(const std::string& folder)
{
    std::vector<std::string> names;
    std::wstring pattern;
    if (!toWide(folder + "/*", pattern))
        return names;
    WIN32_FIND_DATAW found {};
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(toUtf8(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool LocalTime(std::int64_t seconds, std::tm& out)
{
    const __time64_t when = seconds;
    return _localtime64_s(&out, &when) == 0;
}

unsigned NewFileMode() { return 0666; }

}  // namespace songs::files
