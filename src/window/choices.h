#pragma once
// The ways of playing a user chooses once and keeps: hold mode, the piano key
// map, playing along, the tempo songs play at, and the MIDI ports. Each is off (or the built-in
// synthesizer) until chosen; the classic ways stay the default.
#include <QString>

#include <vector>

// The best lesson result of a song (练习), by the key the window gives it.
struct LessonBest {
    QString song;
    int percent = 0;
    bool operator==(const LessonBest&) const = default;
};
// So many songs are remembered; the one practised longest ago goes first.
constexpr int kMostLessonBests = 200;

struct PlayingChoices {
    bool holdLower = false;  // 按住发声, per keyboard
    bool holdUpper = false;
    bool pianoKeys = false;  // 钢琴式键位 (the lower keyboard's map)
    bool playAlong = false;  // 边听边弹
    bool keyLabels = true;   // 键位: the computer keys' names on the keys
    int digitKey = -1;       // the digits on the keys: -1 固定调, else 首调 with 1 on this pitch class
    QString midiOut;         // a port's name; empty: the built-in synthesizer
    QString midiIn;          // a port's name; empty: none
    bool metronome = false;  // 节拍器: off at every start, as a keyboard's is; its beat is kept
    int metronomeTempo = 120;       // beats a minute, 40..240
    int metronomeBeats = 4, metronomeUnit = 4;
    int tempo = 100;         // 速度: percent of a song's own, 40..150, for playback and lessons alike
    std::vector<LessonBest> lessonBests;  // the song practised last first

    bool operator==(const PlayingChoices&) const = default;
};

// A lesson's result for `song` (percent -1 when it is no result to keep,
// as a part of the song): the song moves to the front; the best kept is
// the answer, -1 when there is none.
int KeepLessonBest(PlayingChoices& choices, const QString& song, int percent);

// The settings file under the user's config folder.
QString ChoicesPath();
// The choices kept in `path`. A file that is missing gives the defaults; one
// that cannot be read or is broken gives them too, with one line on stderr.
PlayingChoices LoadChoices(const QString& path);
// False (with one line on stderr) when the file cannot be written.
bool SaveChoices(const QString& path, const PlayingChoices& choices);
