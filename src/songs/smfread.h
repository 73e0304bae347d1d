#pragma once
// Reading a Standard MIDI File (format 0 or 1, any division, tempo changes,
// SMPTE time, running status) into what a song can be made of: its note-ons
// on a clock in milliseconds with their lengths, the program changes, the
// sustain pedal and the names.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace songs {

struct SmfNote {
    double timeMs = 0;
    std::uint8_t channel = 0;  // 0..15
    std::uint8_t note = 0;
    std::uint8_t velocity = 0;  // > 0: a note-off or velocity 0 is no note
    double lengthMs = -1;       // to its note-off; -1 when none came
};

struct SmfPedal {
    double timeMs = 0;
    std::uint8_t channel = 0;
    bool down = false;  // the sustain pedal (control change 64) down or up
};

struct SmfProgram {
    double timeMs = 0;
    std::uint8_t channel = 0;
    std::uint8_t program = 0;
};

struct SmfSong {
    int format = 0;
    int tracks = 0;                   // track chunks found
    std::vector<SmfNote> notes;       // in time order; at equal times in file order; no drums
    bool drums = false;               // notes on channel 10, the General MIDI drums, which are not kept
    std::vector<SmfProgram> programs;  // the same
    std::vector<SmfPedal> pedals;      // the same; only the moves that change it
    std::string name;                 // the first track's name (bytes as stored), else the first found
    std::string copyright;
    // The first tempo, meter and key the file gives; 0 where it gives none.
    double firstQuarterMs = 0;
    int meterBeats = 0, meterUnit = 0;
    bool hasKey = false;
    int keySharps = 0;  // -7 (seven flats) .. 7 (seven sharps)
    bool minorKey = false;
    // Reading stopped before the end of the file, the song being full.
    bool cut = false;
};

// False, with a one-line reason, for anything that is not a well-formed file:
// a truncated chunk, a length that runs past its chunk, a division of 0 or
// SMPTE frames other than 24, 25, 29.97 or 30, a data byte with no status
// before it. The whole reading is linear in the file's size.
//
// A song holds only so many notes: once the two channels with the most notes
// hold more than `enough` between them, or
// the notes, program changes and pedal moves read are eight times as many,
// no more are read, only the note-offs of the notes read, and `cut` is set. A fault beyond that point ends
// the reading rather than refusing the file. The file is read piece by piece
// as far as that, so a file of millions of notes costs the memory of its start.
bool ReadSmf(std::string_view bytes, SmfSong& out, std::string& error, std::size_t enough = std::size_t(-1));
bool ReadSmfFile(const std::string& path, SmfSong& out, std::string& error, std::size_t enough = std::size_t(-1));

// Whether the bytes start like a Standard MIDI File.
bool LooksLikeSmf(std::string_view bytes);

}  // namespace songs
