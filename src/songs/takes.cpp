#include "songs/takes.h"

#include "songs/platform/files.h"
#include "songs/songfile.h"
#include "songs/wholefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>
#include <vector>

namespace songs {
namespace {

// "2026-12-09 14-03-11 " starts every name KeepTake gives.
const std::regex& takeName()
{
    static const std::regex re(R"(^\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2} .*\.hbk$)");
    return re;
}

// A title as part of a file name: nothing the system refuses in a name (a
// folder separator; on Windows also : ? * and the like), no control characters.
std::string fileNamePart(std::string title)
{
    for (char& c : title)
        if (files::kNotInNames.find(c) != std::string_view::npos || (static_cast<unsigned char>(c) < 0x20))
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
    const auto slash = scratchPath.find_last_of(files::kSeparators);
    return (slash == std::string::npos ? std::string(".") : scratchPath.substr(0, slash)) + "/录音";
}

bool KeepTake(const std::string& scratchPath, const std::string& takesFolder, std::string& kept, std::string& error)
{
    kept.clear();
    files::Info info;
    if (!files::InfoOf(scratchPath, info, false))
        return errno == ENOENT || (error = "cannot keep the last take: " + std::string(std::strerror(errno)), false);
    if (info.kind != files::Kind::File) {
        error = "cannot keep the last take: " + scratchPath + " is not a regular file";
        return false;
    }
    if (!holdsANote(scratchPath))
        return true;  // nothing to keep; the new recording replaces it
    if (!files::MakeFolder(takesFolder) && errno != EEXIST) {
        error = "cannot make " + takesFolder + ": " + std::strerror(errno);
        return false;
    }
    std::string title, author;
    ReadHeaderLine(scratchPath, title, author);
    char stamp[32] = "";
    std::tm local {};
    if (files::LocalTime(info.modified, local))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S", &local);
    const std::string stem = takesFolder + "/" + stamp + " " + fileNamePart(title);
    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = stem + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + ".hbk";
        // Never a rename over a name: a take never replaces another file.
        if (files::MoveNoReplace(scratchPath, candidate)) {
            SyncFolder(takesFolder);  // the take's new name survives a power cut
            kept = candidate;
            return true;
        }
        if (errno != EEXIST) {
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
    for (std::string& name : files::FileNames(takesFolder))
        if (std::regex_match(name, takeName()))
            names.push_back(std::move(name));
    if (int(names.size()) <= keep)
        return;
    std::sort(names.begin(), names.end());  // the time stamp first: oldest first
    for (std::size_t i = 0; i + std::size_t(keep) < names.size(); ++i)
        files::Remove(takesFolder + "/" + names[i]);
}

bool ScratchLock::tryLock(const std::string& scratchPath)
{
    unlock();
    const std::string path = scratchPath + ".lock";
    // Never through a link: in a Music folder that others can write in, a
    // link would have us make or lock a file wherever it points.
    const int fd = files::OpenToWrite(path, files::kCreate | files::kNoFollow);
    if (fd < 0)
        return false;
    if (!files::TryLock(fd)) {
        files::Close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void ScratchLock::unlock()
{
    if (fd_ >= 0)
        files::Close(fd_);  // closing lets go of the lock
    fd_ = -1;
}

}  // namespace songs
