#pragma once
// The names the program shows for the 128 General MIDI programs and the 12
// keys (UTF-8), shared by the window's choosers and the song dump.
namespace songs {

constexpr int kInstrumentCount = 128;
constexpr int kToneCount = 12;  // the keys 调 a keyboard is transposed to
extern const char* const kInstrumentNames[kInstrumentCount];
extern const char* const kToneNames[kToneCount];

// "" for a program outside 0..127.
const char* InstrumentName(int program);
// The plain key name ("C", "C#" ... "B") of a transposition of 0..11
// semitones; "" outside.
const char* KeyShortName(int tone);

}  // namespace songs
