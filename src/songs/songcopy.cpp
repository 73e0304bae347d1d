#include "songs/songcopy.h"

#include "songs/paths.h"
#include "songs/platform/files.h"
#include "songs/wholefile.h"

#include <cerrno>
#include <cstring>

namespace songs {
namespace {

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

// A folder may refuse new files while its files stay writable.
bool refusesNewFiles(int error) { return error == EACCES || error == EPERM; }

}  // namespace

CopyResult CopySongFile(const std::string& source, const std::string& target, std::string& error)
{
    // Saving the open song onto itself: rewriting it could only lose it.
    if (SameFile(source, target))
        return CopyResult::Unchanged;
    std::string data;
    // Whatever the file holds is copied, however long.
    switch (ReadWholeFile(source, data, std::string::npos)) {
    case ReadOutcome::Ok:
        break;
    case ReadOutcome::NotAFile:
        error = "cannot read " + source + ": not a file";
        return CopyResult::Failed;
    default:
        error = reason("cannot read " + source);
        return CopyResult::Failed;
    }

    files::Info existing;
    const bool exists = files::InfoOf(target, existing);
    if (exists && existing.kind != files::Kind::File) {
        error = "cannot save to " + target + ": not a file";
        return CopyResult::Failed;
    }
    // The copy gets the mode of the song it replaces, or that of a new file.
    bool folderRefused = false;
    if (ReplaceFile(target, data, exists ? existing.mode : NewFileMode(), &folderRefused))
        return CopyResult::Replaced;
    if (!folderRefused || !exists || !refusesNewFiles(errno)) {
        error = reason("cannot save to " + target);
        return CopyResult::Failed;
    }

    // Written over the old song from its start; what is left of a longer old
    // song is cut off only once the whole new one is in place.
    const int out = files::OpenToWrite(target, files::kWriteOnly);
    if (out < 0) {
        error = reason("cannot save to " + target);
        return CopyResult::Failed;
    }
    const bool ok = WriteAll(out, data) && files::Truncate(out, std::int64_t(data.size())) && SyncData(out);
    if (!ok)
        error = reason("cannot save to " + target);
    files::Close(out);
    return ok ? CopyResult::WrittenInPlace : CopyResult::Failed;
}

}  // namespace songs
