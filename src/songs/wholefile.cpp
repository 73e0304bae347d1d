#include "songs/wholefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace songs {

bool WriteAll(int fd, std::string_view bytes, off_t offset)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
        offset += n;
    }
    return true;
}

bool SyncData(int fd)
{
    while (fdatasync(fd) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EINVAL;
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    ::close(fd);
}

mode_t NewFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

ReplacingFile::ReplacingFile(std::string path, mode_t mode) : path_(std::move(path)), mode_(mode) {}

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard()
{
    if (fd_ < 0)
        return;
    const int why = errno;
    ::close(fd_);
    ::unlink(temp_.c_str());
    fd_ = -1;
    errno = why;
}

bool ReplacingFile::open()
{
    discard();
    temp_ = FolderOf(path_) + "/.sonarel-XXXXXX";
    fd_ = mkstemp(temp_.data());
    if (fd_ < 0)
        return false;
    written_ = 0;
    if (fchmod(fd_, mode_) != 0) {
        discard();
        return false;
    }
    return true;
}

bool ReplacingFile::write(std::string_view bytes)
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!WriteAll(fd_, bytes, written_)) {
        discard();
        return false;
    }
    written_ += off_t(bytes.size());
    return true;
}

bool ReplacingFile::commit()
{
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (!SyncData(fd_)) {
        discard();
        return false;
    }
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        const int why = errno;
        ::unlink(temp_.c_str());
        errno = why;
        return false;
    }
    SyncFolder(FolderOf(path_));
    return true;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode, bool* folderRefused)
{
    ReplacingFile file(path, mode);
    const bool opened = file.open();
    if (folderRefused)
        *folderRefused = !opened;
    return opened && file.write(bytes) && file.commit();
}

ReadOutcome ReadWholeFile(const std::string& path, std::string& data, std::size_t largest)
{
    data.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return ReadOutcome::CannotOpen;
    struct stat st {};
    ReadOutcome outcome = ReadOutcome::Ok;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        outcome = ReadOutcome::NotAFile;
    else if (std::size_t(st.st_size) > largest)
        outcome = ReadOutcome::TooLarge;
    // A file may still grow or shrink while it is read: what is there counts.
    char buffer[1 << 16];
    while (outcome == ReadOutcome::Ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            outcome = ReadOutcome::ReadError;
        else if (n == 0)
            break;
        else if (data.size() + std::size_t(n) > largest)
            outcome = ReadOutcome::TooLarge;
        else
            data.append(buffer, std::size_t(n));
    }
    const int why = errno;
    ::close(fd);
    errno = why;
    if (outcome != ReadOutcome::Ok)
        data.clear();
    return outcome;
}

}  // namespace songs
