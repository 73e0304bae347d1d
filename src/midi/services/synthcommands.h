#pragma once
#include "midi/services/shortmessage.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

typedef struct _fluid_synth_t fluid_synth_t;

// Hands one decoded message to the synthesizer; FluidSynth's result.
int PlayMessage(fluid_synth_t* synth, const ShortMessage& m);

// The way from the keyboards to the synthesizer. A program change with
// dynamic sample loading reads the instrument's samples and takes milliseconds
// (up to tens of them); FluidSynth holds its own lock meanwhile, so every
// other call into it, a note-on on any channel included, waits for the load.
// Slow calls are therefore played by a thread of their own, and while that
// thread has work the UI thread calls FluidSynth not at all: what it sends
// goes into one queue behind that work, in the order sent, so a note after a
// program change sounds with the new program. A note on another channel
// could not sound sooner either (it would wait on FluidSynth's lock); what
// the queue saves is the window's time. When nothing waits, a cheap message
// (a note, a controller) is played at once, as quickly as before.
//
// The rendering thread is no part of this: FluidSynth renders without its lock.
class SynthCommands {
public:
    explicit SynthCommands(fluid_synth_t* synth);
    // What is still queued is played before the thread ends; the synthesizer
    // must outlive this.
    ~SynthCommands();
    SynthCommands(const SynthCommands&) = delete;
    SynthCommands& operator=(const SynthCommands&) = delete;

    // FluidSynth's result when the message was played at once; FLUID_OK when
    // it was queued.
    int send(const ShortMessage& m);
    // Ends every note on every channel, in its turn like a message.
    void endAllNotes();
    // Waits until everything sent so far has been played: offline rendering
    // takes its sound only then.
    void drain();

    // What may read samples: an instrument (program) change, and the bank
    // select that must reach the synthesizer before the change it belongs to.
    static bool Slow(const ShortMessage& m);

private:
    struct Command {
        ShortMessage message;
        bool allNotesOff = false;
    };
    // True when played at once (result in `result`), under mutex_.
    bool playNowLocked(const Command& c, int& result);
    void play(const Command& c, int* result);
    void run();

    fluid_synth_t* const synth_;
    std::mutex mutex_;  // also held while the UI thread plays a cheap message at once
    std::condition_variable work_, drained_;
    std::deque<Command> queue_;
    bool busy_ = false;  // the thread plays what it took from the queue
    bool stop_ = false;
    std::thread thread_;  // started last: it reads everything above
};
