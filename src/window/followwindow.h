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
#include <memory>
#include <optional>

class QScrollArea;
class QLabel;

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();
    notation::Score score_;
    std::unique_ptr<notation::ScoreDrawing> drawing_;
    std::optional<std::pair<bool, int>> marked_;
};

class FollowWindow : public QWidget {
    Q_OBJECT
public:
    explicit FollowWindow(QWidget* parent = nullptr);
    ~FollowWindow() override;

    // The song (or MIDI file) about to play: its score, no note marked.
    void showSong(const QString& path);
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
