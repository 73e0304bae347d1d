#include "songs/wholefile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode, bool* folderRefused)
{
    if (folderRefused)
        *folderRefused = false;
    const std::string folder = FolderOf(path);
    std::string temp = folder + "/.sonarel-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        if (folderRefused)
            *folderRefused = true;
        return false;
    }
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && SyncData(fd);
    int why = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = why;
        return false;
    }
    SyncFolder(folder);
    return true;
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
