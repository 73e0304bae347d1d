#pragma once
// What the program asks of a path the user named before it reads or writes
// it: one home for the rules, so that every tool and the window refuse the
// same things with the same words.
#include <string>

namespace songs {

// A plain file, by stat alone: a pipe or a device is never opened to find out.
bool IsRegularFile(const std::string& path);

// Why `path` cannot be read as a song or a MIDI file ("No such file or
// directory", "Permission denied", "is a folder", "is not a regular file"),
// or empty when it can be opened. Never blocks, never reads.
std::string WhyUnreadable(const std::string& path);

// The same file, also through a link or another spelling of its path.
bool SameFile(const std::string& a, const std::string& b);

// Why `target` must not receive what is made of `source`, or empty when it
// may: the source itself would be destroyed, and something that exists and
// is not a plain file (a pipe, a folder, a device) is never replaced.
std::string WhyNotTarget(const std::string& source, const std::string& target);

// The path's last part, after its last folder separator ("/", and on
// Windows "\" as well).
std::string FileNameOf(const std::string& path);

// The file name's extension in lower case ("mid" of "Song.MID"), empty when
// it has none.
std::string LowerExtension(const std::string& path);

}  // namespace songs
