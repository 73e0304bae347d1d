#pragma once
// Saving a recording: the scratch song is copied to where the user chose.
#include <string>

namespace songs {

enum class CopyResult {
    Replaced,        // the copy was written beside the target and renamed over it
    WrittenInPlace,  // the folder takes no new file: the existing target was overwritten
    Unchanged,       // the target is the source itself: it already holds the song
    Failed,          // nothing usable was written; an existing target is as it was
};

// The target is replaced whole where its folder allows it, so a failed save
// never destroys an existing song. Where the folder takes no new file but the
// target itself may be written (a song in someone else's shared folder), the
// target is written in place instead; only a failure in the middle of that
// can leave it damaged. `error` says what went wrong.
CopyResult CopySongFile(const std::string& source, const std::string& target, std::string& error);

}  // namespace songs
