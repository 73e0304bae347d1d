#include "songs/takes.h"

#include "songs/songfile.h"
#include "songs/wholefile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace songs {
namespace {

// "2026-12-09 14-03-11 " starts every name KeepTake gives.
const std::regex& takeName()
{
    static const std::regex re(R"(^\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2} .*\.hbk$)");
    return re;
}

// A title as part of a file name: no folder separators, no control characters.
std::string fileNamePart(std::string title)
{
    for (char& c : title)
        if (c == '/' || (static_cast<unsigned char>(c) < 0x20))
            c = ' ';
    const auto first = title.find_first_not_of(' ');
    if (first == std::string::npos)
        return "录音";
    title = title.substr(first, title.find_last_not_of(' ') - first + 1);
    if (title.front() == '.')
        title.insert(title.begin(), '_');
    return title;
}

// Only a take with a note in it is worth keeping: a rewrite that failed (a
// full disk) leaves the scratch file empty or with its header alone, and
// keeping those would push real takes out of the folder.
bool holdsANote(const std::string& path)
{
    SongFile song;
    if (!song.openForReading(path))
        return false;
    Record record;
    std::int16_t key = 0;
    for (std::int32_t slot = kFirstRecordSlot; song.readRecord(slot, record) == ReadStatus::Ok; ++slot)
        if (!record.isSetting() && KeyNumber(record.tag, key))
            return true;
    return false;
}

}  // namespace

std::string TakesFolder(const std::string& scratchPath)
{
    const auto slash = scratchPath.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : scratchPath.substr(0, slash)) + "/录音";
}

bool KeepTake(const std::string& scratchPath, const std::string& takesFolder, std::string& kept, std::string& error)
{
    kept.clear();
    struct stat st {};
    if (::lstat(scratchPath.c_str(), &st) != 0)
        return errno == ENOENT || (error = "cannot keep the last take: " + std::string(std::strerror(errno)), false);
    if (!S_ISREG(st.st_mode)) {
        error = "cannot keep the last take: " + scratchPath + " is not a regular file";
        return false;
    }
    if (!holdsANote(scratchPath))
        return true;  // nothing to keep; the new recording replaces it
    if (::mkdir(takesFolder.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot make " + takesFolder + ": " + std::strerror(errno);
        return false;
    }
    std::string title, author;
    ReadHeaderLine(scratchPath, title, author);
    char stamp[32];
    const std::time_t when = st.st_mtime;
    std::tm local {};
    localtime_r(&when, &local);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S", &local);
    const std::string stem = takesFolder + "/" + stamp + " " + fileNamePart(title);
    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = stem + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + ".hbk";
        // link + unlink rather than rename: a take never replaces another file.
        if (::link(scratchPath.c_str(), candidate.c_str()) == 0) {
            ::unlink(scratchPath.c_str());
            SyncFolder(takesFolder);  // the take's new name survives a power cut
            kept = candidate;
            return true;
        }
        if (errno != EEXIST) {
            // A file system without hard links still renames; the name is free.
            if ((errno == EPERM || errno == ENOTSUP) && ::access(candidate.c_str(), F_OK) != 0 &&
                ::rename(scratchPath.c_str(), candidate.c_str()) == 0) {
                SyncFolder(takesFolder);
                kept = candidate;
                return true;
            }
            error = "cannot keep the last take in " + takesFolder + ": " + std::strerror(errno);
            return false;
        }
    }
    error = "cannot keep the last take in " + takesFolder + ": no free name";
    return false;
}

void PruneTakes(const std::string& takesFolder, int keep)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(takesFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file(ec) && std::regex_match(name, takeName()))
            names.push_back(name);
    }
    if (int(names.size()) <= keep)
        return;
    std::sort(names.begin(), names.end());  // the time stamp first: oldest first
    for (std::size_t i = 0; i + std::size_t(keep) < names.size(); ++i)
        ::unlink((takesFolder + "/" + names[i]).c_str());
}

bool ScratchLock::tryLock(const std::string& scratchPath)
{
    unlock();
    const std::string path = scratchPath + ".lock";
    // Never through a link: in a Music folder that others can write in, a
    // link would have us make or lock a file wherever it points.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void ScratchLock::unlock()
{
    if (fd_ >= 0)
        ::close(fd_);  // closing lets go of the lock
    fd_ = -1;
}

}  // namespace songs
