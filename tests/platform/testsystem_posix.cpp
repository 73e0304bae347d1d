#include "platform/testsystem.h"

#include "filesizelimit.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace songtest {

Pipe::Pipe(const std::string& where) : path_(where), made_(::mkfifo(where.c_str(), 0600) == 0) {}
Pipe::~Pipe() = default;

bool MakeLink(const std::string& target, const std::string& link) { return ::symlink(target.c_str(), link.c_str()) == 0; }

struct DiskFull::Limit : FileSizeLimit {
    using FileSizeLimit::FileSizeLimit;
};
DiskFull::DiskFull(std::uintmax_t bytes) : limit_(std::make_unique<Limit>(bytes)) {}
DiskFull::~DiskFull() = default;
bool DiskFull::active() const { return limit_->active(); }
void DiskFull::lift() { limit_->lift(); }

bool SetMode(const std::string& path, unsigned mode) { return ::chmod(path.c_str(), mode_t(mode)) == 0; }

bool RefuseNewFiles(const std::string& folder, bool on)
{
    if (::geteuid() != 0)
        return ::chmod(folder.c_str(), on ? 0555 : 0755) == 0;
    // Root may create files in any folder: for root the folder is made immutable.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0)
        ::close(fd);
    return ok;
}

}  // namespace songtest
