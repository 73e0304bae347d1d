#pragma once
// A lesson (练习) on the window's two keyboards: the song's notes read once
// at the start, the player's keys handed to the lesson, the accompaniment
// struck when the lesson says it is due, the next keys marked on the
// on-screen keyboard, and the result said at the end.
#include "performance/lesson.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class MIDi;
class QMenu;

class LessonRun : public QObject {
    Q_OBJECT
public:
    LessonRun(MIDi& lower, MIDi& upper, QObject* parent = nullptr);
    ~LessonRun() override;

    // False, with why in the status, when the song cannot be read.
    bool start(const QString& songPath, performance::LessonPart part);
    void stop();  // the result is said
    bool running() const { return lesson_.has_value() && !lesson_->finished(); }
    const performance::Lesson* lesson() const { return lesson_ ? &*lesson_ : nullptr; }

    performance::LessonMode mode = performance::LessonMode::Wait;
    // 速度 in percent, the window's choice: a lesson under way goes on at it.
    void setTempo(int percent);
    int tempo() const { return tempo_; }

    // A key the player struck (not a song, nor the lesson's accompaniment).
    void struck(MIDi* keyboard, int key);
    // The timer's work: the accompaniment due, the end.
    void tick();
    void setMonotonicClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

    // 练习 with its parts and ways; `song` gives the song to learn.
    void addMenu(QMenu* menu, std::function<QString()> song);

    // Hooks the window sets.
    std::function<void(const QString& text)> status;  // a line the window shows until the next
    std::function<void()> songStopping;               // the ordinary playback ends first
    // Before the first note: a bar counted in, its length in milliseconds
    // (0: none), for the song at `percent` of its tempo.
    std::function<std::int64_t(const QString& songPath, int percent)> countIn;
    std::function<void()> ended;  // the result is said
    // The score's side: times in song milliseconds from the first note.
    // The span to repeat, asked at the start (none: the whole song).
    std::function<std::optional<std::pair<std::int64_t, std::int64_t>>(const QString& song)> loopSpan;
    std::function<void(const std::vector<performance::LessonNote>& next)> nextNotes;
    std::function<void(const std::vector<std::int64_t>& weakMs)> weakBars;  // the middle of each
    // The result of a whole song played through (-1 for a part of it) is
    // kept; the best kept for the song is the answer (-1 none).
    std::function<int(const QString& song, int percent)> keepBest;

private:
    MIDi& keyboardOf(bool upper) const;
    void markNextKeys();
    void finish();
    void say(const QString& text);

    MIDi& lower_;
    MIDi& upper_;
    std::optional<performance::Lesson> lesson_;
    QString heading_;
    QString song_;
    performance::LessonBars bars_;
    bool looping_ = false;
    int tempo_ = 100;
    QTimer timer_;
    std::function<std::int64_t()> clock_;
};

// What the result says; `best` the best kept for the song, -1 none.
QString LessonResultText(const performance::LessonResult& result, int best = -1);
