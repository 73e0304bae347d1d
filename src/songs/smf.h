#pragma once
// Standard MIDI File (format 1) from a list of timed channel messages: a
// conductor track with the tempo and the title, then one track for the lower
// keyboard and one for the upper keyboard.
#include "songs/songtime.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace songs {

// 500000 µs per quarter at 50 ticks per quarter: one file tick is one 10 ms
// tick of the playback timer.
constexpr std::uint32_t kSmfTempoMicroseconds = 500000;
constexpr std::uint16_t kSmfTicksPerQuarter = 50;
constexpr std::int64_t kSmfMillisecondsPerTick = 10;

constexpr int kLowerTrack = 0;  // MIDi1
constexpr int kUpperTrack = 1;  // MIDi2

struct TimedMessage {
    std::int64_t timeMs = 0;
    // kLowerTrack or kUpperTrack; any other value picks the track by channel
    // (channel 1, the upper keyboard's, to the upper track, the rest lower).
    int track = kLowerTrack;
    std::uint8_t status = 0;  // a channel message: 0x80..0xEF
    std::uint8_t d1 = 0;
    std::uint8_t d2 = 0;
};

// A song played to a tempo keeps it, with its time signature; the file's
// ticks a quarter are then the fewest that still put every 10 ms tick of the
// song on a tick of the file (50 at 120, 200 at 90).

// What the conductor track says besides the notes' time.
struct SmfHeading {
    std::string titleUtf8;   // the track name
    std::string authorUtf8;  // a copyright notice, when not empty
    std::optional<int> keySharps;  // a major key's signature, -6..6 (flats negative)
    SongTime time;  // unknown: 120 at 50 ticks a quarter, and no time signature
};

// The key signature of a major key on pitch class `tonic` (0 C .. 11 B), the
// way jianpu's 1= names it: sharps up to F#, flats from Db.
int KeySharpsOf(int tonic);

// The bytes of the file. Messages of a track keep their order at equal
// times; times are rounded to the nearest tick, negative ones to 0. Status
// bytes that are no channel message are left out; program change and channel
// pressure take one data byte.
std::string BuildSmf(const std::vector<TimedMessage>& messages, const SmfHeading& heading);
inline std::string BuildSmf(const std::vector<TimedMessage>& messages, const std::string& titleUtf8)
{
    return BuildSmf(messages, SmfHeading{titleUtf8, {}, {}, {}});
}

// Writes BuildSmf's bytes to a temporary file beside `path` and renames it
// over `path`, so an existing file is replaced only by a complete new one.
bool WriteSmf(const std::string& path, const std::vector<TimedMessage>& messages, const SmfHeading& heading);
inline bool WriteSmf(const std::string& path, const std::vector<TimedMessage>& messages, const std::string& titleUtf8)
{
    return WriteSmf(path, messages, SmfHeading{titleUtf8, {}, {}, {}});
}

}  // namespace songs
