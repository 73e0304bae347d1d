#include "midi/services/synthcommands.h"

#include "midi/services/fluidlib.h"

#include <pthread.h>
#include <sched.h>

namespace {

using fluidlib::Fluid;

constexpr int kBankSelect = 0;
constexpr int kBankSelectFine = 32;

// FluidSynth fails a note-off that finds no voice of the note: one that died
// away by itself (a marimba's, a piano's long-held one) or was taken for a
// newer note. The note is over either way, which is what was asked.
int noteOff(fluid_synth_t* synth, int channel, int note)
{
    Fluid().fluid_synth_noteoff(synth, channel, note);
    return FLUID_OK;
}

}  // namespace

int PlayMessage(fluid_synth_t* synth, const ShortMessage& m)
{
    const int channel = m.status & 0x0F;
    switch (m.status & 0xF0) {
    case 0x80:
        return noteOff(synth, channel, m.data1);
    case 0x90:
        return m.data2 == 0 ? noteOff(synth, channel, m.data1)
                            : Fluid().fluid_synth_noteon(synth, channel, m.data1, m.data2);
    case 0xA0:
        return Fluid().fluid_synth_key_pressure(synth, channel, m.data1, m.data2);
    case 0xB0:
        return Fluid().fluid_synth_cc(synth, channel, m.data1, m.data2);
    case 0xC0:
        return Fluid().fluid_synth_program_change(synth, channel, m.data1);
    case 0xD0:
        return Fluid().fluid_synth_channel_pressure(synth, channel, m.data1);
    case 0xE0:
        return Fluid().fluid_synth_pitch_bend(synth, channel, m.data1 | (m.data2 << 7));
    default:
        return FLUID_OK;  // system messages (clock, sense ...) mean nothing to the synthesizer
    }
}

SynthCommands::SynthCommands(fluid_synth_t* synth) : synth_(synth), thread_(&SynthCommands::run, this) {}

SynthCommands::~SynthCommands()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    work_.notify_one();
    thread_.join();
}

bool SynthCommands::Slow(const ShortMessage& m)
{
    const int kind = m.status & 0xF0;
    return kind == 0xC0 || (kind == 0xB0 && (m.data1 == kBankSelect || m.data1 == kBankSelectFine));
}

void SynthCommands::play(const Command& c, int* result)
{
    const int r = c.allNotesOff ? Fluid().fluid_synth_all_notes_off(synth_, -1) : PlayMessage(synth_, c.message);
    if (result)
        *result = r;
}

bool SynthCommands::playNowLocked(const Command& c, int& result)
{
    if (busy_ || !queue_.empty() || (!c.allNotesOff && Slow(c.message)))
        return false;
    // The thread is idle and takes mutex_ before it starts on anything, so
    // FluidSynth's lock is free: this cannot wait on a load.
    play(c, &result);
    return true;
}

int SynthCommands::send(const ShortMessage& m)
{
    const Command c{m, false};
    {
        std::lock_guard lock(mutex_);
        int result = FLUID_OK;
        if (playNowLocked(c, result))
            return result;
        queue_.push_back(c);
    }
    work_.notify_one();
    return FLUID_OK;
}

void SynthCommands::endAllNotes()
{
    Command c;
    c.allNotesOff = true;
    {
        std::lock_guard lock(mutex_);
        int result = FLUID_OK;
        if (playNowLocked(c, result))
            return;
        queue_.push_back(c);
    }
    work_.notify_one();
}

void SynthCommands::drain()
{
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return !busy_ && queue_.empty(); });
}

void SynthCommands::run()
{
    // Woken by the UI thread's send, an ordinary thread would take the
    // UI thread's core on the spot, and with a load of samples to read it
    // keeps it for a time slice: the window would wait milliseconds on the
    // work it just handed off. A batch thread is not run ahead of the thread
    // that woke it; it still gets its fair share of the processors.
    const sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty())
            return;  // stopped, and nothing is left to play
        busy_ = true;
        // Everything queued meanwhile is played here too, in order, so the
        // UI thread never overtakes what waits.
        while (!queue_.empty()) {
            const Command c = queue_.front();
            queue_.pop_front();
            lock.unlock();
            play(c, nullptr);
            lock.lock();
        }
        busy_ = false;
        drained_.notify_all();
    }
}
