#pragma once
// The file system as the song library uses it, written once for each system
// (files_posix.cpp, files_windows.cpp). Paths are UTF-8 on every system; an
// open file is an int descriptor on both; a failure sets errno to its POSIX
// value (ENOENT, EACCES, EEXIST, ENOSPC ...), so that callers test and word
// it the same way everywhere.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace songs::files {

// The characters that end a folder's name in a path: "/", and on Windows "\" too.
extern const std::string_view kSeparators;
// Characters that no file name may hold: "/", and on Windows \ : * ? " < > | too.
extern const std::string_view kNotInNames;

enum class Kind { File, Folder, Other };  // Other: a pipe, a device, a link not followed
struct Info {
    Kind kind = Kind::Other;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // seconds since 1970
    // Together they tell which file it is, whatever path reached it.
    std::uint64_t device = 0, id = 0;
    unsigned mode = 0;  // permission bits; Windows reports 0666, or 0444 for a read-only file
};
// False, with errno, when there is nothing at the path. A link is followed
// unless `followLinks` is false; then the link itself is Other.
bool InfoOf(const std::string& path, Info& info, bool followLinks = true);
bool InfoOf(int fd, Info& info);

// Opens a plain file for reading. Never waits, whatever the path names: -1
// with errno when it cannot be opened, -1 with `notAFile` set (when given)
// when it is a folder, a pipe or a device.
int OpenToRead(const std::string& path, bool* notAFile = nullptr);

// For OpenToWrite: read and write unless kWriteOnly.
enum OpenFlags : unsigned {
    kWriteOnly = 1,
    kCreate = 2,    // made when missing (0666 less the umask)
    kTruncate = 4,
    kNoFollow = 8,  // a link in the file's place is refused (ELOOP)
};
int OpenToWrite(const std::string& path, unsigned flags);
bool Close(int fd);

// Bytes read or written at `offset`, 0 at the end of the file, -1 with errno
// (EINTR among them: the caller tries again).
long long ReadAt(int fd, void* data, std::size_t size, std::int64_t offset);
long long WriteAt(int fd, const void* data, std::size_t size, std::int64_t offset);
// Puts the file's data on the disk (fdatasync, FlushFileBuffers).
bool SyncData(int fd);
// Puts a folder's entries on the disk, where the system keeps them apart
// (nothing to do on Windows, where a move writes through).
void SyncFolder(const std::string& folder);
bool Truncate(int fd, std::int64_t size);

// A new file ".sonarel-XXXXXX" in `folder`, open for writing, with the
// permission bits `mode` (ignored on Windows); its path in `tempPath`.
int CreateTempIn(const std::string& folder, unsigned mode, std::string& tempPath);
// Renames `from` over `to` at once: `to` is the old file or the new one at
// every moment.
bool Replace(const std::string& from, const std::string& to);
// Moves `from` to `to` only while nothing is there: EEXIST when something is.
bool MoveNoReplace(const std::string& from, const std::string& to);
bool Remove(const std::string& path);
bool MakeFolder(const std::string& path);  // EEXIST when the path is taken

// An exclusive lock on an open file, without waiting: false (EWOULDBLOCK)
// while another open of it holds one. Closing the file lets go.
bool TryLock(int fd);

// The names (UTF-8) of the plain files in a folder; none when it cannot be read.
std::vector<std::string> FileNames(const std::string& folder);

// The local time of a moment in seconds since 1970.
bool LocalTime(std::int64_t seconds, std::tm& out);

// The permission bits a new file gets: 0666 less the process's umask.
unsigned NewFileMode();

}  // namespace songs::files
