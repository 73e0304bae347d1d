#pragma once
// Between scores and what sounds: a score played on the two keyboards (a
// song file made of jianpu text), and songs and MIDI files written down as
// scores, quantized to sixteenths.
#include "notation/jianpu.h"
#include "performance/lesson.h"
#include "songs/midiimport.h"
#include "songs/smfread.h"

#include <optional>
#include <string>
#include <vector>

namespace notation {

// The score as a MIDI file would hold it: the lower voice on channel 0, the
// upper on channel 1, every note as long as written.
songs::SmfSong ToSmf(const Score& score);

// A note as played: when, how long (-1 when the song does not say), on
// which keyboard (false lower, true upper), and its MIDI note.
struct Sounding {
    double ms = 0, lengthMs = -1;
    bool upper = false;
    int pitch = 60;
};

// The key a song is written down in: the 调 of the keyboard it starts on,
// the lower one, which its header selects last.
int SongTonic(const songs::HalfSettings& lower);

// The quarter note's length that best puts the onsets on a grid of sixteenths,
// between 40 and 240 a minute, the one nearest 100 of those that fit.
double EstimateQuarterMs(const std::vector<Sounding>& notes);

// The notes written down: onsets to the nearest sixteenth from the first
// note; of notes struck together on one keyboard the highest is kept (the
// text has no chords), the others are counted in `chordNotesLeft`.
Score ScoreOf(const std::vector<Sounding>& notes, double quarterMs, int beats, int beatUnit, int tonic,
              int& chordNotesLeft);

// Reads a jianpu text file and writes it as a song (its start, with
// `song.partial`, when the song has no room for all). Bar-length reports and
// what the song could not keep go to `notices`.
bool ImportJianpuFile(const std::string& textPath, const std::string& songPath, songs::ImportedSong& song,
                      std::string& error, std::vector<std::string>& notices);

// A song, MIDI file or jianpu text (by its name, as the window opens it)
// written down. `tempo` (quarter notes a minute) when given, else the text's
// or MIDI file's own, else estimated; `notices` say which, and what was left
// out; `partial`, when given, whether a MIDI file was more than a song holds
// and only its start is written. Needs a QApplication.
bool ScoreOfFile(const std::string& path, std::optional<int> tempo, Score& score, std::string& error,
                 std::vector<std::string>& notices, bool* partial = nullptr);

// A song's notes as a lesson plays them, and where its bars lie: by the
// song's own tempo and meter, else by the tempo its onsets fit best in 4/4,
// bars counted from the first note as the written score counts them.
bool LessonNotesOf(const std::string& songPath, std::vector<performance::LessonNote>& notes,
                   performance::LessonBars& bars, std::string& error);

// What a file name says: ".txt" and ".jianpu" in any case.
bool HasJianpuExtension(const std::string& path);

}  // namespace notation
