#pragma once
// A readable listing of a song file, for `sonarel --dump SONG.hbk`.
#include <string>

namespace songs {

// The title, the author, one line per record (slot, tag, value, meaning),
// damaged records where they are, and a last line telling where a playback
// of the file would end and why. ok is false only when the file cannot be
// opened; the text then says so.
std::string DumpSong(const std::string& path, bool& ok);

}  // namespace songs
