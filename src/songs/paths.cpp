#include "songs/paths.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace songs {

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string WhyUnreadable(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a folder";
    if (!S_ISREG(st.st_mode))
        return "is not a regular file";
    // O_NONBLOCK: a plain file never waits anyway, and this one was a plain
    // file a moment ago; should it have become a pipe since, the open returns.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string WhyNotTarget(const std::string& source, const std::string& target)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0)
        return {};  // a new file
    if (S_ISDIR(st.st_mode))
        return "cannot write " + target + ": is a folder";
    if (!S_ISREG(st.st_mode))
        return "cannot write " + target + ": is not a regular file";
    if (SameFile(source, target))
        return "cannot write " + target + ": it is the input file";
    return {};
}

std::string LowerExtension(const std::string& path)
{
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(std::uint8_t(c)));
    return ext;
}

}  // namespace songs
