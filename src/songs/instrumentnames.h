#pragma once
// The names the program shows for the 128 General MIDI programs and the 12
// keys, shared by the instrument chooser and the song dump.
#include <array>
#include <string_view>

namespace songs {

constexpr int kInstrumentCount = 128;
constexpr int kKeyCount = 12;

// Entry i names program i. Two entries keep a trailing blank ("（喔）语音 ",
// "双簧管 ") and "叮当琴" stands at 3 and at 112, exactly as the chooser shows them.
extern const std::array<std::string_view, kInstrumentCount> kInstrumentNames;
// "C", "C#", ... "B": entry i is a transposition of i semitones.
extern const std::array<std::string_view, kKeyCount> kKeyNames;

// Empty outside 0..127.
std::string_view InstrumentName(int program);
// Empty outside 0..11.
std::string_view KeyName(int tone);

}  // namespace songs
