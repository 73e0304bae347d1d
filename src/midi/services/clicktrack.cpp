#include "midi/services/clicktrack.h"

#include "midi/services/fluidlib.h"
#include "midi/services/synthcommands.h"

#include <algorithm>
#include <utility>

using fluidlib::Fluid;

namespace {

// The reverb's tail after the last click's voice has ended.
constexpr int kTailSeconds = 2;

ShortMessage Note(int status, int channel, int note, int velocity)
{
    return {std::uint8_t(status | channel), std::uint8_t(note), std::uint8_t(velocity), 3};
}

}  // namespace

void ClickTrack::start(const ClickPattern& pattern)
{
    {
        std::lock_guard lock(mutex_);
        pattern_ = pattern;
        pattern_.beatUs = std::max<std::int64_t>(pattern.beatUs, 1000);
        pattern_.beats = std::max(pattern.beats, 1);
        pattern_.channel = std::clamp(pattern.channel, 0, 15);
        on_ = true;
    }
    running_.store(true);
    handed_.fetch_add(1);
}

void ClickTrack::stop()
{
    {
        std::lock_guard lock(mutex_);
        on_ = false;
    }
    running_.store(false);
    handed_.fetch_add(1);
}

std::int64_t ClickTrack::frameOf(std::int64_t click) const
{
    // From click 0 each time, to the nearest frame: no rounding piles up.
    return first_ + (click * playing_.beatUs * rate_ + 500000) / 1000000;
}

int ClickTrack::playDue(SynthCommands& commands, int most)
{
    if (const std::uint64_t handed = handed_.load(); handed != taken_) {
        std::lock_guard lock(mutex_);
        taken_ = handed;
        playing_ = pattern_;
        playingOn_ = on_;
        first_ = frame_;
        firstAt_ = std::chrono::steady_clock::now();
        next_ = 0;
        ranDry_ = false;
    }
    if (!playingOn_)
        return most;
    if (std::exchange(ranDry_, false)) {
        // The frame rendered now is heard now, once the server has run dry:
        // the frames of the silence it played instead are counted in. Of
        // the clicks that fell in it only the latest sounds, late, as the
        // timer's metronome does.
        const auto since = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - firstAt_);
        const std::int64_t heard = first_ + since.count() * rate_ / 1000000;
        if (heard > frame_)
            first_ -= heard - frame_;
        while (frameOf(next_ + 1) <= frame_)
            ++next_;
    }
    while (frameOf(next_) <= frame_) {
        const bool one = next_ % playing_.beats == 0;
        if (sounding_ >= 0)
            strike(commands, 0x80, sounding_, 0);
        sounding_ = one ? playing_.accentNote : playing_.beatNote;
        soundingOn_ = voice_.load();
        strike(commands, 0x90, sounding_, one ? playing_.accentVelocity : playing_.beatVelocity);
        ++next_;
    }
    return int(std::min<std::int64_t>(most, frameOf(next_) - frame_));
}

void ClickTrack::strike(SynthCommands& commands, int status, int note, int velocity)
{
    fluid_synth_t* voice = soundingOn_;
    if (!voice) {
        commands.send(Note(status, playing_.channel, note, velocity));
        return;
    }
    if (status == 0x80) {
        Fluid().fluid_synth_noteoff(voice, playing_.channel, note);
        return;
    }
    // The rest of the voice's block passed over, so that the next begins here.
    const int block = Fluid().fluid_synth_get_internal_bufsize(voice);
    if (const int rest = int((block - voiceFrames_ % block) % block); rest > 0) {
        voiceSound_.resize(std::size_t(rest) * 2);
        Fluid().fluid_synth_write_float(voice, rest, voiceSound_.data(), 0, 2, voiceSound_.data(), 1, 2);
        voiceFrames_ += rest;
    }
    Fluid().fluid_synth_noteon(voice, playing_.channel, note, velocity);
    voiceTail_ = std::int64_t(kTailSeconds) * rate_;
}

const float* ClickTrack::renderVoice(int count)
{
    fluid_synth_t* voice = voice_.load();
    if (!voice || count <= 0)
        return nullptr;
    if (Fluid().fluid_synth_get_active_voice_count(voice) > 0)
        voiceTail_ = std::int64_t(kTailSeconds) * rate_;
    else if (voiceTail_ <= 0)
        return nullptr;  // silent: the block it is in stays where it was
    voiceTail_ -= count;
    voiceSound_.resize(std::size_t(count) * 2);
    Fluid().fluid_synth_write_float(voice, count, voiceSound_.data(), 0, 2, voiceSound_.data(), 1, 2);
    voiceFrames_ += count;
    return voiceSound_.data();
}
