#pragma once
// Numbered notation (jianpu): the score model, its text format, and the
// spelling of a note as digit, accidental, octave marks and length marks that
// the text and the printed score share.
//
// The text (UTF-8):
//   标题: 茉莉花          header lines before the first line of notes:
//   作者: 民歌            标题/title 作者/author 调/key 拍号/meter 速度/tempo,
//   1=D  3/4  ♩=90       or bare "1=D", "3/4", "♩=90" lines; a song of the
//   分类: 民歌            bank adds its menu's group (分类/group) and its
//   难度: ★★              difficulty (难度/level, one to three stars)
//   上: 3 5 6. 1'_ | 5 - 0 ||
//   下: 1, 5, 1 - | 1 - - ||
// A note is [#|b] digit (0 a rest) then ' (octave up) , (down) _ (half as
// long) . (half again) in any order; a lone - adds a quarter to the note
// before; | ends a bar, || or |] the piece; % starts a comment.
#include <string>
#include <string_view>
#include <vector>

namespace notation {

// Lengths are counted in 64th notes: a quarter note is 16.
constexpr int kQuarter = 16;

struct Note {
    int pitch = -1;      // MIDI note number; -1 for a rest
    int length = kQuarter;
    int line = 0;        // the text line it came from (1-based), 0 when made from a song
    bool barAfter = false;  // a bar line follows it in the text or the score
};

struct Score {
    std::string title, author;
    std::string group;  // where the song bank's menu lists it; empty for other texts
    int stars = 0;      // the song bank's difficulty, 1 .. 3; 0 when not given
    int tonic = 0;  // pitch class of 1: 0 C .. 11 B
    int beats = 4, beatUnit = 4;
    int tempo = 90;  // quarter notes a minute
    std::vector<Note> lower, upper;  // the two keyboards' voices; both start at the beginning

    int barLength() const { return beats * 4 * kQuarter / beatUnit; }
    const std::vector<Note>& voice(bool upperVoice) const { return upperVoice ? upper : lower; }
};

// The largest text read: more notes than a song holds, by far.
constexpr std::size_t kMostTextBytes = 1 << 20;

// Said of a line that is not UTF-8, after its number.
constexpr std::string_view kNotUtf8 = "not UTF-8 text";

// False with one line naming line and column (or line) of the first fault.
// Bars whose length differs from the meter are played as written and listed
// in `warnings`.
bool ParseJianpu(std::string_view text, Score& score, std::string& error, std::vector<std::string>& warnings);

std::string WriteJianpu(const Score& score);

// How a note is written.
struct Spelling {
    char digit = '0';
    int accidental = 0;   // -1 flat, 1 sharp
    int octave = 0;       // dots: above when positive, below when negative
    int underlines = 0;   // 1 an eighth, 2 a sixteenth ...
    int dots = 0;         // augmentation dots after the digit
    int dashes = 0;       // quarters added after it
};
Spelling Spell(const Score& score, const Note& note);

// "★★" of 2: how a text's header and the song bank's menu show a difficulty.
std::string Stars(int stars);

// "C", "#F", "bB": how the header names a tonic.
std::string TonicName(int tonic);

}  // namespace notation
