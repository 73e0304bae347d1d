#pragma once
// The metronome's clicks placed by the thread that renders the synthesizer,
// on the synthesizer's own clock: its frames. The UI thread hands over the
// beat once; every click after that is played just before the frame it falls
// on, so neither a late UI thread nor the size of the pieces the sound server
// asks for moves it.
//
// FluidSynth starts a note at the next of its 64-frame blocks
// (fluid_synth_get_internal_bufsize), up to 1.4 ms after the frame it was
// meant for, and by a different amount each beat. So the clicks have a
// synthesizer of their own, the same soundfont on the percussion channel,
// mixed into the keyboards' sound: before each click the rest of its current
// block (the quiet end of the last click) is passed over, so that a block,
// and the click with it, begins on the click's very frame. Until that voice
// is made (it loads the soundfont on a thread of the service's), the clicks
// are notes of the keyboards' synthesizer.
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
#include <vector>

class SynthCommands;
typedef struct _fluid_synth_t fluid_synth_t;

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

    // Any thread, once: the clicks' own synthesizer, which the rendering
    // thread alone plays from then on. Its owner deletes it after the
    // rendering has ended.
    void setVoice(fluid_synth_t* voice) { voice_.store(voice); }

    // The rendering thread: renders `frames` frames in pieces, by
    // render(offset, count), playing each click before the piece that
    // begins at its frame, and mix(offset, count, leftRight) adds what the
    // clicks' voice sounds in each piece.
    template <class Render, class Mix>
    void render(SynthCommands& commands, int frames, Render&& piece, Mix&& mix)
    {
        for (int done = 0; done < frames;) {
            const int count = playDue(commands, frames - done);
            piece(done, count);
            if (const float* sound = renderVoice(count))
                mix(done, count, sound);
            done += count;
            frame_ += count;
        }
    }

private:
    // Plays what is due at the current frame; the frames until the next
    // click, at most `most`.
    int playDue(SynthCommands& commands, int most);
    std::int64_t frameOf(std::int64_t click) const;
    void strike(SynthCommands& commands, int status, int note, int velocity);
    // The voice's next `count` frames, nullptr when it has nothing to sound.
    const float* renderVoice(int count);

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
    fluid_synth_t* soundingOn_ = nullptr;  // the voice it sounds on; nullptr: the keyboards' synthesizer

    std::atomic<fluid_synth_t*> voice_{nullptr};
    std::int64_t voiceFrames_ = 0;  // rendered by the voice, or passed over
    std::int64_t voiceTail_ = 0;    // frames its reverb may still sound
    std::vector<float> voiceSound_;
};
