#pragma once
// The score that follows the music (显示简谱): a window of its own showing
// the current song in jianpu, the note being played marked and kept in view,
// and under it the syllable sung;
// while a recording is made, the recording so far. It is told what sounds and
// knows nothing of the keyboards.
#include "notation/jianpu.h"
#include "notation/songscore.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <utility>

class QScrollArea;
class QLabel;
class QPushButton;

namespace notation {
class ScoreDrawing;
}

class ScorePage : public QWidget {
    Q_OBJECT
public:
    explicit ScorePage(QWidget* parent = nullptr);
    ~ScorePage() override;
    void setScore(const notation::Score& score);
    // The voice's note marked; none when index < 0. The mark's box.
    QRectF mark(bool upper, int index);
    // The marked note: voice and index; index -1 for none.
    std::pair<bool, int> marked() const { return marked_.value_or(std::pair{false, -1}); }
    const notation::ScoreDrawing* drawing() const { return drawing_.get(); }
    QSize sizeHint() const override;

    // What a lesson marks: its next notes (voice, index), the bars of an
    // A-B loop (first, last; last -1 while only A is chosen), the bars to
    // practise. Each drawn in a colour of its own.
    struct LessonMarks {
        std::set<std::pair<bool, int>> next;
        std::pair<int, int> loop{-1, -1};
        std::set<int> weak;
        bool operator==(const LessonMarks&) const = default;
    };
    void setLessonMarks(const LessonMarks& marks);
    const LessonMarks& lessonMarks() const { return lessonMarks_; }
    static QColor nextColour();  // the on-screen keyboard's lesson colour
    static QColor loopColour();
    static QColor weakColour();

signals:
    void barClicked(int bar);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void layOut();
    notation::Score score_;
    std::unique_ptr<notation::ScoreDrawing> drawing_;
    std::optional<std::pair<bool, int>> marked_;
    LessonMarks lessonMarks_;
};

class FollowWindow : public QWidget {
    Q_OBJECT
public:
    explicit FollowWindow(QWidget* parent = nullptr);
    ~FollowWindow() override;

    // The song (or MIDI file) about to play: its score, no note marked.
    void showSong(const QString& path);
    const QString& shownPath() const { return shownPath_; }

    // A lesson on the song shown. Its times are song milliseconds from the
    // first note, as the score's tempo puts them. The notes the player
    // strikes next are marked; the bars sounding at `weakMs` are marked to
    // practise (none: the marks go).
    void markLessonNext(const std::vector<performance::LessonNote>& next);
    void markWeakBars(const std::vector<std::int64_t>& weakMs);
    // The A-B loop: a click on a bar chooses A, the next click B, the next
    // a new A; 清除循环 clears it. Its span, the first time through.
    void chooseLoopBar(int bar);
    void clearLoop();
    std::optional<std::pair<std::int64_t, std::int64_t>> loopSpan() const;
    // A key a song struck: the next note of that pitch in its voice is marked.
    void struck(bool upper, int note);
    // A key struck while recording: the score of the recording so far, in
    // the recording's key and under its title.
    struct Heading {
        QString title;
        int tonic = 0;
    };
    void recorded(bool upper, int note, const Heading& heading);

    const notation::Score& score() const { return score_; }
    std::pair<bool, int> marked() const { return page_->marked(); }
    ScorePage* page() const { return page_; }
    // The re-scoring of a recording, called by its timer; tests call it.
    void rescoreRecording();

private:
    void setScore(const notation::Score& score);
    void markNote(bool upper, int index);
    void showLoop();
    // A note of the score as it is played (repeats written out), by time.
    struct Place {
        double ms = 0, endMs = 0;
        int index = 0, bar = 0;
        bool struck = false;  // not a rest, nor a tie's held-on note
    };
    void placeNotes();
    const Place* placeAt(bool upper, double ms, int pitch) const;
    std::array<std::vector<Place>, 2> places_;  // by voice, in the order played
    QString shownPath_;
    QLabel* loopLine_;
    QPushButton* clearLoop_;

    QScrollArea* scroll_;
    ScorePage* page_;
    QLabel* empty_;
    notation::Score score_;
    std::array<std::vector<int>, 2> order_;  // by voice (lower, upper): the notes as played, repeats written out
    std::array<int, 2> next_{};  // by voice: the place in order_ to look from
    bool recording_ = false;
    Heading heading_;
    std::vector<notation::Sounding> taken_;
    QElapsedTimer clock_;
    QTimer rescore_;
};
