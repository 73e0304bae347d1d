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
        if (!port)
            return;
        if (sounding >= 0)
            port->NoteOff(kPercussionChannel, sounding);
        port->NoteOn(kPercussionChannel, click.note, click.velocity);
        sounding = click.note;
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

Metronome::Metronome(Sink sink, Clock clock) : sink_(std::move(sink)), clock_(std::move(clock))
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
    clickTick();
}

void Metronome::stop()
{
    running_ = false;
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
        if (sink_)
            sink_(beat_.click(due));
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(first_ + beat * next_ - now);
    Timer.start(int(std::max<std::int64_t>(wait.count(), 0)));
}

}  // namespace performance
