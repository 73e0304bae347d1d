#include "songs/songcopy.h"

#include "songs/paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace songs {
namespace {

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

bool readWhole(const std::string& path, std::string& data, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = reason("cannot read " + path);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read " + path + ": not a file";
        ::close(fd);
        return false;
    }
    data.clear();
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = reason("cannot read " + path);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return true;
}

bool writeWhole(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

// A folder may refuse new files while its files stay writable.
bool refusesNewFiles(int error) { return error == EACCES || error == EPERM; }

}  // namespace

CopyResult CopySongFile(const std::string& source, const std::string& target, std::string& error)
{
    // Saving the open song onto itself: rewriting it could only lose it.
    if (SameFile(source, target))
        return CopyResult::Unchanged;
    std::string data;
    if (!readWhole(source, data, error))
        return CopyResult::Failed;

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error = "cannot save to " + target + ": not a file";
        return CopyResult::Failed;
    }

    const std::string folder = folderOf(target);
    std::string temp = folder + "/.sonarel-save-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd >= 0) {
        // The copy gets the mode of the song it replaces, or that of a new file.
        mode_t mode = 0666;
        if (exists) {
            mode = existing.st_mode & 07777;
        } else {
            const mode_t mask = umask(0);
            umask(mask);
            mode &= ~mask;
        }
        const bool ok = writeWhole(fd, data) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
        const int writeErrno = errno;
        ::close(fd);
        if (ok && ::rename(temp.c_str(), target.c_str()) == 0) {
            syncFolder(folder);
            return CopyResult::Replaced;
        }
        errno = ok ? errno : writeErrno;
        error = reason("cannot save to " + target);
        ::unlink(temp.c_str());
        return CopyResult::Failed;
    }
    if (!exists || !refusesNewFiles(errno)) {
        error = reason("cannot save to " + target);
        return CopyResult::Failed;
    }

    // Written over the old song from its start; what is left of a longer old
    // song is cut off only once the whole new one is in place.
    const int out = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (out < 0) {
        error = reason("cannot save to " + target);
        return CopyResult::Failed;
    }
    const bool ok = writeWhole(out, data) && ftruncate(out, off_t(data.size())) == 0 && fdatasync(out) == 0;
    if (!ok)
        error = reason("cannot save to " + target);
    ::close(out);
    return ok ? CopyResult::WrittenInPlace : CopyResult::Failed;
}

}  // namespace songs
