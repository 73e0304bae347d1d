#pragma once
// Files read and written whole, the way every song, MIDI file and copy of
// this program is: a write never leaves half a file under the name, and a
// read never waits on a pipe.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace songs {

// Writes all of `bytes` at `offset`, again after an interruption. False on
// any failure, with errno set.
bool WriteAll(int fd, std::string_view bytes, std::int64_t offset = 0);
// Puts the file's data on the disk; a file system that cannot (EINVAL)
// counts as done.
bool SyncData(int fd);
// The folder a path names its file in ("." for a bare name). Windows
// separates folders with "\" as well as "/".
std::string FolderOf(const std::string& path);
// A new or renamed file survives a power cut only once its folder's entry
// for it is on the disk too.
void SyncFolder(const std::string& folder);

// The permission bits of a new file: 0666 less the process's umask.
unsigned NewFileMode();

// A file that replaces the one at `path` only when it is committed: written
// to a temporary file beside it, put on the disk, renamed over it, then the
// folder synced, so that `path` holds at every moment the old file or the
// whole new one. One that is not committed leaves nothing behind. Each step
// returns false on failure, with errno set.
class ReplacingFile {
public:
    ReplacingFile(std::string path, unsigned mode);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool open();  // false: the folder refused the temporary file
    bool write(std::string_view bytes);
    bool commit();

private:
    void discard();

    std::string path_, temp_;
    unsigned mode_;
    int fd_ = -1;
    std::int64_t written_ = 0;
};

// A whole file at once through ReplacingFile. `folderRefused` (when given)
// tells whether the folder refused the temporary file itself.
bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned mode, bool* folderRefused = nullptr);

enum class ReadOutcome { Ok, CannotOpen, NotAFile, TooLarge, ReadError };
// Reads a whole plain file of at most `largest` bytes. Only a plain file is
// read: a pipe or a device is NotAFile, and opening never waits for one.
// errno tells why for CannotOpen and ReadError.
ReadOutcome ReadWholeFile(const std::string& path, std::string& data, std::size_t largest);
// The first `size` bytes of a plain file (fewer when it is shorter), read the
// same way; empty when it cannot be read.
std::string ReadFileStart(const std::string& path, std::size_t size);

}  // namespace songs
