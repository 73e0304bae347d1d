// The MIDI output's share of the instruments' hot loop: one note-countdown
// tick (every 100 ms per instrument) sends a note-off for each of the 65 keys,
// and the built-in synthesizer has to take them between two audio periods.
#include "midi/midiout.h"
#include "midi/services/synthservice.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

constexpr int kKeys = 65;
constexpr int kLowestNote = 36;       // Pitch of the lower keyboard
constexpr int kTenMsFrames = SynthService::kSampleRate / 100;

// The synthesizer as the program runs it, only without an audio driver (this
// machine has none): the benchmark thread stands in for the audio thread.
class OpenSynth {
public:
    OpenSynth()
    {
        SynthConfig config;
        config.audio = false;
        synth_ = std::make_unique<SynthService>(config);
        port.SetService(synth_.get());
        ok_ = port.OpenMidiOut(-1);
        port.ProgramChange(0, 0, 0);
    }
    ~OpenSynth()
    {
        port.CloseMidiOut();
    }
    MidiOut port;
    bool ok() const { return ok_; }
    SynthService& synth() { return *synth_; }

private:
    std::unique_ptr<SynthService> synth_;
    bool ok_ = false;
};

void countdownTick(MidiOut& port)
{
    for (int key = 0; key < kKeys; ++key)
        port.NoteOff(0, std::int16_t(kLowestNote + key));
}

// Strikes `count` keys, a minor third apart, at full velocity.
void strike(MidiOut& port, int count)
{
    for (int key = 0; key < count; ++key)
        port.NoteOn(0, std::int16_t(kLowestNote + key * 3), 127);
}

bool skipWithoutSynth(benchmark::State& state, const OpenSynth& open)
{
    if (!open.ok())
        state.SkipWithError("the built-in synthesizer did not open (no soundfont?)");
    return !open.ok();
}

// One tick: `range(0)` keys were struck since the last one and are ended by
// it; with 0, the usual case, nothing sounds and every key gets its note-off
// anyway.
void BM_CountdownTick(benchmark::State& state)
{
    OpenSynth open;
    if (skipWithoutSynth(state, open))
        return;
    std::vector<std::int16_t> audio(std::size_t(kTenMsFrames) * 2);
    const int sounding = int(state.range(0));
    for (auto _ : state) {
        if (sounding > 0) {
            state.PauseTiming();
            strike(open.port, sounding);
            open.synth().renderS16(kTenMsFrames, audio.data());  // the voices start
            state.ResumeTiming();
        }
        countdownTick(open.port);
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_CountdownTick)->Arg(0)->Arg(1)->Arg(10);

// 10 ms of sound after a tick: what the audio thread must finish within
// 10 ms, with `range(0)` notes in their release.
void BM_Render10msAfterTick(benchmark::State& state)
{
    OpenSynth open;
    if (skipWithoutSynth(state, open))
        return;
    std::vector<std::int16_t> audio(std::size_t(kTenMsFrames) * 2);
    const int sounding = int(state.range(0));
    strike(open.port, sounding);
    open.synth().renderS16(kTenMsFrames, audio.data());
    countdownTick(open.port);
    for (auto _ : state) {
        // Strike again whenever the release has died, so the voices stay busy.
        state.PauseTiming();
        strike(open.port, sounding);
        countdownTick(open.port);
        state.ResumeTiming();
        open.synth().renderS16(kTenMsFrames, audio.data());
    }
    state.counters["x_realtime"] = benchmark::Counter(0.010 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Render10msAfterTick)->Arg(0)->Arg(1)->Arg(10);

}  // namespace
