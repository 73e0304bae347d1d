#pragma once
// The vocabulary of a song file's setting records: the tag fields as stored
// (5 characters, blank-padded), what each one means, and how a boolean value
// is written and read. Every reader and writer of records names tags here.
#include <optional>
#include <string>
#include <string_view>

namespace songs {

enum class Tag {
    End,         // "@END " the song ends here
    Keyboard,    // "@TonD" 1 the lower keyboard, 2 the upper, from here on
    Tone,        // "@DiaZ" key 调, semitones 0..11
    Intensity,   // "@YinL" volume
    Instrument,  // "@YueQ" General MIDI program
    Pitch,       // "@YinG" the note of the lowest key
    Silencer,    // "@XiaY" boolean
    Mlong,       // "@YinC" note length, the countdown's period in ms
    // What the song was played to (a recording with the metronome on, a
    // jianpu text): they change nothing on playback, whose ticks are its
    // time; the tools that write the song down read them.
    Tempo,       // "@SuDu" quarter notes a minute
    Meter,       // "@PaiH" beats "/" beat unit, as "3/4"
};

// The tag field as stored, padding included.
std::string_view TagField(Tag tag);
// The tag a record's field names; nothing for a note's key number or a tag
// this program does not know (a playback skips it).
std::optional<Tag> ParseTag(std::string_view field);

// A boolean setting as written ("True" / "False") and as read: only "True"
// counts as true, anything else is false.
std::string_view BoolText(bool value);
bool BoolValue(std::string_view field);

// The keyboards as "@TonD" names them.
constexpr int kLowerKeyboard = 1, kUpperKeyboard = 2;

// Note lengths, in recordings made in hold mode or with the pedal: a key
// released ("@Rbkk": keyboard b, key kk) or the pedal moved ("@PbD " down,
// "@PbU " up). The value is the number of 10 ms ticks after the strike of the
// note record before it. A player that knows none of them skips them, so
// the note-ons keep their times.
struct LengthRecord {
    enum class Kind { Release, PedalDown, PedalUp };
    Kind kind = Kind::Release;
    int keyboard = kLowerKeyboard;
    int key = 0;  // a release's key index
};
std::string LengthTag(const LengthRecord& record);
std::optional<LengthRecord> ParseLengthTag(std::string_view field);

}  // namespace songs
