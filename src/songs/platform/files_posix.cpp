#include "songs/platform/files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace songs::files {

const std::string_view kSeparators = "/";
const std::string_view kNotInNames = "/";

namespace {

void fill(const struct stat& st, Info& info)
{
    info.kind = S_ISREG(st.st_mode) ? Kind::File : S_ISDIR(st.st_mode) ? Kind::Folder : Kind::Other;
    info.size = st.st_size;
    info.modified = st.st_mtime;
    info.device = st.st_dev;
    info.id = st.st_ino;
    info.mode = st.st_mode & 07777;
}

// Closes without letting the close change the errno that tells why.
void closeKeepingErrno(int fd)
{
    const int why = errno;
    ::close(fd);
    errno = why;
}

}  // namespace

bool InfoOf(const std::string& path, Info& info, bool followLinks)
{
    struct stat st {};
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return false;
    fill(st, info);
    return true;
}

bool InfoOf(int fd, Info& info)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    fill(st, info);
    return true;
}

int OpenToRead(const std::string& path, bool* notAFile)
{
    if (notAFile)
        *notAFile = false;
    // O_NONBLOCK keeps the open itself from waiting on a pipe; a plain file
    // reads the same without it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        closeKeepingErrno(fd);
        if (notAFile)
            *notAFile = true;
        return -1;
    }
    ::fcntl(fd, F_SETFL, 0);
    return fd;
}

int OpenToWrite(const std::string& path, unsigned flags)
{
    int how = ((flags & kWriteOnly) ? O_WRONLY : O_RDWR) | O_CLOEXEC;
    if (flags & kCreate)
        how |= O_CREAT;
    if (flags & kTruncate)
        how |= O_TRUNC;
    if (flags & kNoFollow)
        how |= O_NOFOLLOW;
    return ::open(path.c_str(), how, 0666);
}

bool Close(int fd) { return ::close(fd) == 0; }

long long ReadAt(int fd, void* data, std::size_t size, std::int64_t offset)
{
    return ::pread(fd, data, size, off_t(offset));
}

long long WriteAt(int fd, const void* data, std::size_t size, std::int64_t offset)
{
    return ::pwrite(fd, data, size, off_t(offset));
}

bool SyncData(int fd) { return ::fdatasync(fd) == 0; }

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

bool Truncate(int fd, std::int64_t size) { return ::ftruncate(fd, off_t(size)) == 0; }

int CreateTempIn(const std::string& folder, unsigned mode, std::string& tempPath)
{
    tempPath = folder + "/.sonarel-XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0)
        return -1;
    if (::fchmod(fd, mode_t(mode)) != 0) {
        closeKeepingErrno(fd);
        const int why = errno;
        ::unlink(tempPath.c_str());
        errno = why;
        return -1;
    }
    return fd;
}

bool Replace(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

bool MoveNoReplace(const std::string& from, const std::string& to)
{
    // A link fails where the name is taken; only then is the old name let go.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP)
        return false;
    // A file system without hard links still renames, while the name is free.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool TryLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

std::vector<std::string> FileNames(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec))
            names.push_back(entry.path().filename().string());
    return names;
}

bool LocalTime(std::int64_t seconds, std::tm& out)
{
    const std::time_t when = std::time_t(seconds);
    return ::localtime_r(&when, &out) != nullptr;
}

unsigned NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace songs::files
