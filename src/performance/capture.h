#pragma once
// A song file played by the real playback (key groups, waits, "@TonD",
// setting records, the countdown that ends each note, the silencer) on two
// keyboards that nobody sees, against a virtual clock, with every message
// captured with its time.
#include "songs/smf.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace performance {

using songs::TimedMessage;

struct SongCapture {
    std::string title, author;
    // Only the messages that make sound: program changes, note-ons, and the
    // note-offs that end a sounding note (not the countdown's repeated
    // note-offs for idle keys). Channel 0 is the lower keyboard, 1 the upper.
    std::vector<TimedMessage> messages;
    std::int64_t endMs = 0;      // when the playback ended
    std::int64_t silentMs = 0;   // when the last note had ended
};

// False with a one-line reason when the file is missing, unreadable or not a
// song file. Needs a QApplication (the keyboards are widgets).
bool CaptureSong(const std::string& path, SongCapture& capture, std::string& error);

bool ExportMidi(const std::string& songPath, const std::string& outPath, std::string& error);

// Renders the capture through the built-in synthesizer into a 44.1 kHz
// 16-bit stereo WAV file; progress gets the fraction done.
bool RenderSong(const std::string& songPath, const std::string& outPath, const std::string& soundfont,
                std::string& error, const std::function<void(double)>& progress = {});

}  // namespace performance
