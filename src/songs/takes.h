#pragma once
// The takes folder: a recording rewrites the scratch file, so the take it
// held is moved aside first, under the time it was made and its title.
#include <ctime>
#include <string>

namespace songs {

// The folder of kept takes beside the scratch file.
std::string TakesFolder(const std::string& scratchPath);

// Moves the scratch file, if there is one, into `takesFolder` as
// "YYYY-MM-DD HH-MM-SS TITLE.hbk" (the time it was last written, the title
// of its header), never over another file. `kept` is the new path, empty when
// there was nothing to keep (no scratch file, or one without a note). False, with the reason, when the take could not
// be kept; the scratch file is then untouched.
bool KeepTake(const std::string& scratchPath, const std::string& takesFolder, std::string& kept, std::string& error);

// Deletes the oldest takes that KeepTake named beyond the newest `keep`; a
// file of any other name (a song the user saved there) is never touched.
// Called once the recording that will become the next take has been written,
// so that a recording the disk refused never costs an older take.
void PruneTakes(const std::string& takesFolder, int keep);
constexpr int kTakesKept = 50;

// One program records into a scratch file at a time: the lock is held from the
// start of a recording to its end, and goes with the process that held it.
class ScratchLock {
public:
    ScratchLock() = default;
    ~ScratchLock() { unlock(); }
    ScratchLock(const ScratchLock&) = delete;
    ScratchLock& operator=(const ScratchLock&) = delete;

    // False when another program holds it (or the lock file cannot be made).
    bool tryLock(const std::string& scratchPath);
    void unlock();
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace songs
