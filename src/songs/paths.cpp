#include "songs/paths.h"

#include "songs/platform/files.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace songs {

bool IsRegularFile(const std::string& path)
{
    files::Info info;
    return files::InfoOf(path, info) && info.kind == files::Kind::File;
}

std::string WhyUnreadable(const std::string& path)
{
    files::Info info;
    if (!files::InfoOf(path, info))
        return std::strerror(errno);
    if (info.kind == files::Kind::Folder)
        return "is a folder";
    if (info.kind != files::Kind::File)
        return "is not a regular file";
    // Opening never waits: should the plain file of a moment ago have become
    // a pipe since, the open returns all the same.
    bool notAFile = false;
    const int fd = files::OpenToRead(path, &notAFile);
    if (fd < 0)
        return notAFile ? "is not a regular file" : std::strerror(errno);
    files::Close(fd);
    return {};
}

bool SameFile(const std::string& a, const std::string& b)
{
    files::Info ia, ib;
    return files::InfoOf(a, ia) && files::InfoOf(b, ib) && ia.device == ib.device && ia.id == ib.id;
}

std::string WhyNotTarget(const std::string& source, const std::string& target)
{
    files::Info info;
    if (!files::InfoOf(target, info))
        return {};  // a new file
    if (info.kind == files::Kind::Folder)
        return "cannot write " + target + ": is a folder";
    if (info.kind != files::Kind::File)
        return "cannot write " + target + ": is not a regular file";
    if (SameFile(source, target))
        return "cannot write " + target + ": it is the input file";
    return {};
}

std::string FileNameOf(const std::string& path)
{
    const auto slash = path.find_last_of(files::kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LowerExtension(const std::string& path)
{
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of(files::kSeparators, dot) != std::string::npos)
        return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(std::uint8_t(c)));
    return ext;
}

}  // namespace songs
