#pragma once
// Learning a song (练习): the player's part of it is played by the player,
// the other part is the accompaniment. In the wait mode the song's clock
// stops at each of the player's notes until the right keys are struck; in
// time it runs on and every strike is scored against its note. The lesson
// knows nothing of keyboards or timers: it is told the time and the strikes,
// and says which accompaniment notes are due.
#include <cstdint>
#include <functional>
#include <vector>

namespace performance {

enum class LessonPart { Lower, Upper, Both };
enum class LessonMode { Wait, InTime };

// A note of the song: when (song milliseconds), how long (-1 when the song
// does not say), which keyboard, its MIDI note; its bar (from 0) the lesson
// finds.
struct LessonNote {
    std::int64_t ms = 0;
    std::int64_t lengthMs = -1;
    bool upper = false;
    int pitch = 60;
    int bar = 0;
};

// Where the song's bars lie: the first starts at firstMs.
struct LessonBars {
    std::int64_t firstMs = 0;
    std::int64_t barMs = 2000;
};

// An accompaniment note due now, its length in real milliseconds.
struct LessonSound {
    bool upper = false;
    int pitch = 60;
    std::int64_t lengthMs = 0;
};

struct LessonResult {
    int notes = 0;   // the player's notes gone by (each pass of a loop again)
    int right = 0;   // struck right and, in time, on time
    int early = 0, late = 0, missed = 0;
    int wrong = 0;   // wrong keys struck
    std::vector<int> weakestBars;  // at most three, the most faults first
    int rightPercent() const { return notes > 0 ? (right * 100 + notes / 2) / notes : 0; }
};

constexpr std::int64_t kOnTimeMs = 80;  // either side of the note, in real time
constexpr std::int64_t kNearMs = 250;   // early or late within this; beyond it the note is missed

class Lesson {
public:
    // Whether the player can strike a note at all; one of the player's part
    // that no key reaches would keep the song waiting for ever, so it is
    // left to the accompaniment, which sounds it where it can. Unset, every
    // note is reachable.
    using Reach = std::function<bool(const LessonNote& note)>;
    Lesson(std::vector<LessonNote> notes, LessonBars bars, LessonPart part, LessonMode mode, const Reach& reachable = {});
    int barAt(std::int64_t songMs) const;
    // The player's notes left to the accompaniment because no key reaches them.
    int unreachable() const { return unreachable_; }

    // The song's gaps are stretched by 100 / percent (40..150, see tempo.h);
    // during a lesson the song goes on from where it is at the new tempo.
    void setTempo(int percent, std::int64_t nowMs = 0);
    int tempo() const { return tempo_; }
    // Bars first..last (from 0) played over and over until stopped.
    void setLoop(int firstBar, int lastBar);

    void start(std::int64_t nowMs);
    // The song up to now: the accompaniment notes that are due. The player's
    // notes passed by unstruck (in time) are counted as missed.
    std::vector<LessonSound> advance(std::int64_t nowMs);

    enum class Strike { Right, OnTime, Early, Late, Wrong, Ignored };
    // A key the player struck on one keyboard. Keys of the accompaniment's
    // keyboard are not the lesson's.
    Strike strike(bool upper, int pitch, std::int64_t nowMs);
    void stop() { finished_ = true; }

    // The player's next note or chord, and the one after (empty at the end).
    std::vector<LessonNote> upcoming(int which) const;
    bool waiting(std::int64_t nowMs) const;  // the clock stands at the player's note
    bool finished() const { return finished_; }
    std::int64_t songMs(std::int64_t nowMs) const;
    LessonResult result() const;

private:
    struct Chord {
        std::int64_t ms = 0;
        std::vector<std::size_t> notes;  // into notes_
        std::vector<bool> struck;
        bool faulty = false;             // a wrong key while it was awaited (wait mode)
    };
    bool isPlayers(const LessonNote& n) const;
    std::int64_t rawSongMs(std::int64_t nowMs) const;
    std::int64_t realMs(std::int64_t songGapMs) const;
    void restartAt(std::int64_t songMs, std::int64_t nowMs);
    std::size_t firstLoopChord() const;
    bool struckForNextPass(std::size_t note) const;
    void fault(int bar, int count = 1);
    int barOfFault(std::int64_t nowMs) const;

    std::vector<LessonNote> notes_;
    LessonBars bars_;
    LessonPart part_;
    LessonMode mode_;
    int tempo_ = 100;
    int unreachable_ = 0;
    std::vector<Chord> chords_;
    std::vector<std::size_t> accompaniment_;  // into notes_, by time
    std::vector<int> scored_;                 // in time: per note, 0 pending, 1 scored
    // In time, in a loop: the loop's first notes struck early, just before
    // it goes round; scored already when the next pass begins.
    std::vector<std::size_t> nextPass_;
    std::size_t chord_ = 0, sound_ = 0;
    std::int64_t songAt_ = 0, wallAt_ = 0;  // the clock: song time songAt_ at real time wallAt_
    std::int64_t struckUpToMs_ = -1;        // the accompaniment this close after a struck chord sounds with it
    bool started_ = false, finished_ = false;
    bool looping_ = false;
    std::int64_t loopFromMs_ = 0, loopToMs_ = 0;
    LessonResult counts_;
    std::vector<int> faults_;  // by bar
};

}  // namespace performance
