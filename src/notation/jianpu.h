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
//   词: 好 一 朵 茉 莉 花   the syllables of the line of notes above it
// A note is [#|b] digit (0 a rest) then ' (octave up) , (down) _ (half as
// long) . (half again) in any order, ^ after it a fermata; a lone - adds a
// quarter to the note before; | ends a bar, || or |] the piece; % starts a
// comment. As jianpu is written by hand: ~ or ⌒ ties two notes (one
// sounds), ( ) a slur, 3( ) a triplet, |: :| a repeat with [1. [2. endings,
// 弱起 (or a short first bar) a pickup; full-width ｜ — （ ） ： read as
// their ASCII signs, and a text that is not UTF-8 as GBK when it is GBK.
#include <string>
#include <string_view>
#include <vector>

namespace notation {

// Lengths are counted in 64th notes: a quarter note is 16.
constexpr int kQuarter = 16;

// A syllable that goes on over the note it is given to.
constexpr std::string_view kHeldSyllable = "_";

struct Note {
    int pitch = -1;      // MIDI note number; -1 for a rest
    int length = kQuarter;  // as written: a triplet's note sounds two thirds of it
    int line = 0;        // the text line it came from (1-based), 0 when made from a song
    bool barAfter = false;  // a bar line follows it in the text or the score
    bool tieAfter = false;  // held on into the next note, which is not struck again
    bool slurStart = false, slurEnd = false;  // drawn only
    bool triplet = false, tripletStart = false, tripletEnd = false;
    bool fermata = false;
    bool repeatStart = false;  // |: before it
    bool repeatEnd = false;    // :| after it
    int ending = 0;            // [1. [2. ... begins at it
    std::string lyric{};       // its syllable, kHeldSyllable, or none
};

// The note's place in 64ths times three, so that triplets count whole.
inline int ThirdsOf(const Note& n) { return n.length * (n.triplet ? 2 : 3); }
// A fermata's note is held this much longer than written.
constexpr double kFermataHold = 1.5;

struct Score {
    std::string title, author;
    std::string group;  // where the song bank's menu lists it; empty for other texts
    int stars = 0;      // the song bank's difficulty, 1 .. 3; 0 when not given
    int tonic = 0;  // pitch class of 1: 0 C .. 11 B
    int beats = 4, beatUnit = 4;
    int tempo = 90;  // quarter notes a minute
    std::vector<Note> lower, upper;  // the two keyboards' voices; both start at the beginning
    bool pickup = false;  // the first bar is short of the meter and not counted

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

// The order a voice's notes are played in: repeats and their endings
// written out. Indices into the voice.
std::vector<int> PlayOrder(const std::vector<Note>& voice);

// Whether the note is struck: not a rest, nor the second of a tie.
bool IsStruck(const std::vector<Note>& voice, std::size_t index);

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
