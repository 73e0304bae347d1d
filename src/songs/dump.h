#pragma once
// A readable listing of a song file, for `sonarel --dump SONG.hbk`.
#include <iosfwd>
#include <string>

namespace songs {

// The title, the author, one line per record (slot, tag, value, meaning) up to
// the end marker, damaged records where they are, how many slots follow the
// end marker, and a last line telling where a playback of the file would end
// and why. Written to `out` as the file is read. False only when the file
// cannot be opened (`error` says why) or `out` failed.
bool DumpSong(const std::string& path, std::ostream& out, std::string& error);

}  // namespace songs
