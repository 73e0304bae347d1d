#include "performance/metronome.h"

#include "midi/midiout.h"

#include <algorithm>
#include <cmath>

namespace performance {

namespace {
constexpr std::int16_t kPercussionChannel = 9;  // MIDI channel 10
}  // namespace

Metronome::Sink ClickSender(MidiOut* port)
{
    return [port, sounding = -1](const Click& click) mutable {
        if (!port || port->ClicksTimed())
            return;
        if (sounding >= 0)
            port->NoteOff(kPercussionChannel, sounding);
        port->NoteOn(kPercussionChannel, click.note, click.velocity);
        sounding = click.note;
    };
}

Metronome::Timed TimedClicks(MidiOut* port)
{
    return [port](const BeatClock* beat) {
        if (!port)
            return;
        if (!beat) {
            port->StopClicks();
            return;
        }
        ClickPattern p;
        p.beatUs = beat->beat().count();
        p.beats = beat->beats();
        p.channel = kPercussionChannel;
        p.accentNote = BeatClock::kAccentNote;
        p.accentVelocity = BeatClock::kAccentVelocity;
        p.beatNote = BeatClock::kBeatNote;
        p.beatVelocity = BeatClock::kBeatVelocity;
        port->StartClicks(p);
    };
}

void BeatClock::setMeter(int beats, int unit)
{
    beats_ = std::clamp(beats, 1, kMostBeats);
    if (unit >= 1 && unit <= 16 && (unit & (unit - 1)) == 0)
        unit_ = unit;
}

Click BeatClock::click(std::int64_t n) const
{
    const bool one = n % beats_ == 0;
    return {one, one ? kAccentNote : kBeatNote, one ? kAccentVelocity : kBeatVelocity};
}

songs::SongTime BeatClock::songTime() const
{
    // A beat of a smaller unit is a shorter note: 120 eighths are 60 quarters.
    const int quarters = std::max(1, int(std::lround(tempo_ * 4.0 / unit_)));
    return {std::clamp(quarters, songs::kSlowestTempo, songs::kFastestTempo), beats_, unit_};
}

void BeatClock::followSong(const songs::SongTime& time, int percent)
{
    if (!time.known())
        return;
    setMeter(time.beats, time.beatUnit);
    // The inverse of songTime(): 60 quarters are 120 eighths.
    setTempo(int(std::lround(time.tempo * unit_ / 4.0 * percent / 100.0)));
}

Metronome::Metronome(Sink sink, Clock clock, Timed timed)
    : sink_(std::move(sink)), clock_(std::move(clock)), timed_(std::move(timed))
{
    // Coarse timers may fire up to 5 % late; the clicks are aimed to the millisecond.
    Timer.setTimerType(Qt::PreciseTimer);
    Timer.setSingleShot(true);
    QObject::connect(&Timer, &QTimer::timeout, this, [this] { clickTick(); });
}

void Metronome::start(const BeatClock& beat)
{
    beat_ = beat;
    first_ = clock_();
    next_ = 0;
    running_ = true;
    handOver_ = false;
    if (timed_)
        timed_(&beat_);
    clickTick();
}

void Metronome::retime(const BeatClock& beat)
{
    if (!running_ || beat.beats() != beat_.beats()) {
        start(beat);
        return;
    }
    // As far into its beats as before, counted in the new beat's length.
    const auto now = clock_();
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - first_);
    first_ = now - elapsed * beat.beat().count() / beat_.beat().count();
    beat_ = beat;
    // An output's own clicks start their bar at once: it is handed the new
    // beat on the next beat one.
    if (timed_) {
        timed_(nullptr);
        handOver_ = true;
    }
    clickTick();
}

void Metronome::stop()
{
    if (running_ && timed_)
        timed_(nullptr);
    running_ = false;
    handOver_ = false;
    Timer.stop();
}

void Metronome::clickTick()
{
    if (!running_)
        return;
    const auto now = clock_();
    const auto beat = beat_.beat();
    // Every click's time is counted from the first, never from the last tick.
    const std::int64_t due = (now - first_) / beat;
    if (due >= next_) {
        next_ = due + 1;
        if (handOver_ && beat_.click(due).accent) {
            handOver_ = false;
            timed_(&beat_);
        }
        if (sink_)
            sink_(beat_.click(due));
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(first_ + beat * next_ - now);
    Timer.start(int(std::max<std::int64_t>(wait.count(), 0)));
}

}  // namespace performance
