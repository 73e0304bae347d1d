#pragma once
// The metronome's clicks placed by the thread that renders the synthesizer,
// on the synthesizer's own clock: its frames. The UI thread hands over the
// beat once; every click after that is played just before the frame it falls
// on, so neither a late UI thread nor the size of the pieces the sound server
// asks for moves it. FluidSynth starts a note at the next of its 64-frame
// blocks (fluid_synth_get_internal_bufsize), which is where a click is heard.
//
// Not FluidSynth's own sequencer: it counts its time in whole milliseconds,
// and a note it plays from the rendering thread waits on the synthesizer's
// lock, which an instrument change holds while it loads samples. A click here
// goes the keyboards' way (SynthCommands), behind such a load, never into it.
#include "midi/midiservice.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class SynthCommands;

class ClickTrack {
public:
    explicit ClickTrack(int sampleRate) : rate_(sampleRate) {}

    // Any thread. Beat one sounds at the first frame rendered after this.
    void start(const ClickPattern& pattern);
    void stop();
    // Clicks are due: an output that rests in silence keeps rendering.
    bool running() const { return running_.load(); }
    // The rendering thread: the sound server ran dry and played silence
    // for a while, which the frames do not count. The clicks still to come
    // keep to the clock of the first, not to the frames alone.
    void ranDry() { ranDry_ = true; }

    // The rendering thread: renders `frames` frames in pieces, by
    // render(offset, count), playing each click through `commands` before
    // the piece that begins at its frame.
    template <class Render>
    void render(SynthCommands& commands, int frames, Render&& piece)
    {
        for (int done = 0; done < frames;) {
            const int count = playDue(commands, frames - done);
            piece(done, count);
            done += count;
            frame_ += count;
        }
    }

private:
    // Plays what is due at the current frame; the frames until the next
    // click, at most `most`.
    int playDue(SynthCommands& commands, int most);
    std::int64_t frameOf(std::int64_t click) const;

    const int rate_;
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> handed_{0};  // patterns handed over, the stops with them

    std::mutex mutex_;  // the handed pattern; held only to copy it
    ClickPattern pattern_;
    bool on_ = false;

    // The rendering thread's own.
    std::uint64_t taken_ = 0;
    ClickPattern playing_;
    bool playingOn_ = false;
    bool ranDry_ = false;
    std::chrono::steady_clock::time_point firstAt_;  // when click 0's frame was rendered
    std::int64_t frame_ = 0;       // frames rendered
    std::int64_t first_ = 0;       // the frame of click 0
    std::int64_t next_ = 0;        // the click to play next
    int sounding_ = -1;            // its note, ended by the next
};
