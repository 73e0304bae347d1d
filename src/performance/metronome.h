#pragma once
// The beat the metronome clicks: tempo, meter and which click is beat one,
// and the clicks themselves, each at its own place on a steady clock, so
// that a late tick never moves the beats after it. Knows nothing of widgets
// or keys: it says which click sounds, and ClickSender sends it past the
// keyboards, so that no click is ever a note of a recording.
#include "songs/songtime.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

class MidiOut;

namespace performance {

struct Click {
    bool accent = false;  // beat one of a bar
    int note = 0;         // General MIDI percussion
    int velocity = 0;
};

class BeatClock {
public:
    static constexpr int kSlowest = 40, kFastest = 240;  // beats a minute
    static constexpr int kMostBeats = 12;
    // Hi and Low Wood Block: beat one stands out by its pitch as well as its loudness.
    static constexpr int kAccentNote = 76, kBeatNote = 77;
    static constexpr int kAccentVelocity = 127, kBeatVelocity = 80;

    // The tempo counts beats of the meter's unit (♩ in 3/4, ♪ in 6/8).
    void setTempo(int beatsPerMinute) { tempo_ = std::clamp(beatsPerMinute, kSlowest, kFastest); }
    // A unit that is no power of two up to 16 leaves the unit as it was.
    void setMeter(int beats, int unit);
    int tempo() const { return tempo_; }
    int beats() const { return beats_; }
    int unit() const { return unit_; }

    std::chrono::microseconds beat() const { return std::chrono::microseconds(60000000LL / tempo_); }
    std::chrono::microseconds bar() const { return beat() * beats_; }
    Click click(std::int64_t n) const;
    // As a song keeps it: quarter notes a minute.
    songs::SongTime songTime() const;
    // A song's own, when it says; `percent` of its tempo (a lesson's).
    void followSong(const songs::SongTime& time, int percent = 100);

private:
    int tempo_ = 120, beats_ = 4, unit_ = 4;
};

class Metronome : public QObject {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Sink = std::function<void(const Click&)>;
    // Told the beat at each start and nothing at the stop: an output that
    // times the clicks on its own sound clock takes them all from here.
    using Timed = std::function<void(const BeatClock* beat)>;

    explicit Metronome(Sink sink, Clock clock = &std::chrono::steady_clock::now, Timed timed = {});

    // Beat one sounds now; a running metronome starts its bar again (a count-in).
    void start(const BeatClock& beat);
    // The beat goes on at a new pace from now (a song's tempo changed under
    // way): the clicks keep their count, so beat one stays on the bar's first
    // beat. Another meter, or a stopped metronome, starts as start() does.
    void retime(const BeatClock& beat);
    void stop();
    bool running() const { return running_; }
    const BeatClock& beat() const { return beat_; }

    // Sounds the click that is due, if one is: of clicks missed while the
    // thread was held up only the latest sounds, the others are past. Then
    // aims the timer at the next click's own time.
    void clickTick();

    QTimer Timer;

private:
    Sink sink_;
    Clock clock_;
    Timed timed_;
    BeatClock beat_;
    std::chrono::steady_clock::time_point first_;
    std::int64_t next_ = 0;  // the click to sound next
    bool running_ = false;
    // Re-timed while an output timed the clicks: they are timed here until
    // the next beat one, where the output takes the new beat over.
    bool handOver_ = false;
};

// Sends each click on the General MIDI percussion channel (10) of `port`,
// ending the one before: the metronome's only way to the MIDI output. No
// port: the clicks go nowhere. Nothing while the port's device times them.
Metronome::Sink ClickSender(MidiOut* port);
// Hands the beat to `port`'s device, which times the clicks itself where it
// can (the built-in synthesizer, on its samples); a system port cannot, and
// ClickSender's timed clicks go on.
Metronome::Timed TimedClicks(MidiOut* port);

}  // namespace performance
