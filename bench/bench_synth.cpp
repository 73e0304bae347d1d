// What an instrument change costs the UI thread with the built-in
// synthesizer playing into a real sound server (a private PulseAudio), and
// whether a key struck meanwhile waits for it: key event -> note-on handed
// to the synthesizer while a song changes instruments every 100 ms, beside
// the same keys without the changes. "Before" is FluidSynth's own program
// change called on the UI thread, as the synthesizer did before it queued
// its slow calls; it costs what that did, since the cost is the sample load.
#include "instrument/instrument.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/pulseoutput.h"
#include "midi/services/synthservice.h"
#include "pulseserver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr quint32 kZ = 44 + 8, kX = 45 + 8;  // native scan codes (Linux key code + 8)
constexpr int kSongChannel = 1;              // the upper keyboard's, where a song plays
constexpr int kChangeEveryMs = 100;

std::int64_t nowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// Every instrument in turn, so that each change loads samples.
int nextProgram()
{
    static int i = 0;
    i = (i + 7) % 128;
    return i;
}

// The synthesizer as the program makes it, into a private server; nullptr
// (and the benchmark skipped) when no server could be started.
struct Playing {
    PulseServer server;
    std::unique_ptr<SynthService> synth;
    std::uint32_t handle = 0;

    bool start(benchmark::State& state)
    {
        if (!server.start()) {
            state.SkipWithError("no PulseAudio server could be started");
            return false;
        }
        SynthConfig config;
        config.options = {{"audio.pulseaudio.server", server.server()}};
        synth = std::make_unique<SynthService>(config);
        if (synth->open(-1, handle) != MidiResult::Ok || !synth->waitForAudio(10000) ||
            !dynamic_cast<PulseOutput*>(synth->audioOutput())) {
            state.SkipWithError("the synthesizer did not play into the server");
            return false;
        }
        return true;
    }
};

// FluidSynth with the program's own sample loading, called directly.
struct DirectSynth {
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = nullptr;
    DirectSynth()
    {
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
        synth = new_fluid_synth(settings);
        fluid_synth_sfload(synth, SynthService::FindSoundfont("").c_str(), 1);
    }
    ~DirectSynth()
    {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
    }
    void change(int channel, int program)
    {
        fluid_synth_cc(synth, channel, 0, 0);
        fluid_synth_program_change(synth, channel, program);
    }
};

// state.range(0): 0 = through the synthesizer (what the program does now),
// 1 = FluidSynth's program change on this thread (before).
void BM_InstrumentChange(benchmark::State& state)
{
    const bool direct = state.range(0) == 1;
    Playing playing;
    if (!playing.start(state))
        return;
    DirectSynth before;
    // A note sounds meanwhile: the stream renders as when a song plays.
    playing.synth->sendShortMsg(playing.handle, 0x649000 | 60 << 8);
    std::vector<double> ms;
    for (auto _ : state) {
        const int program = nextProgram();
        const auto t0 = Clock::now();
        if (direct) {
            before.change(kSongChannel, program);
        } else {
            playing.synth->sendShortMsg(playing.handle, std::uint32_t(0xB0 | kSongChannel));  // bank 0
            playing.synth->sendShortMsg(playing.handle, std::uint32_t(0xC0 | kSongChannel) | std::uint32_t(program) << 8);
        }
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(t);
        ms.push_back(t * 1e3);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));  // the load ends, as between a song's changes
    }
    state.counters["p99_ms"] = percentile(ms, 0.99);
    std::fprintf(stderr, "instrument change, UI thread's cost (%s): median %.3f ms, p99 %.3f ms, max %.3f ms%s\n",
                 direct ? "before: FluidSynth called on it" : "now: queued to the synthesizer", percentile(ms, 0.5),
                 percentile(ms, 0.99), percentile(ms, 1.0), direct ? "" : " (target p99 <= 0.2 ms)");
}
BENCHMARK(BM_InstrumentChange)->Arg(1)->Arg(0)->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

// Hands everything to the synthesizer and stamps the moment the first
// note-on since clear() was handed over: the UI thread is free again then.
class HandedOver : public MidiService {
public:
    explicit HandedOver(SynthService& synth) : synth_(synth) {}
    std::int64_t noteOnNs = 0;
    std::function<void()> onNoteOn;
    int deviceAnswers(int deviceId) override { return synth_.deviceAnswers(deviceId); }
    int deviceCount() override { return synth_.deviceCount(); }
    int open(int deviceId, std::uint32_t& handle) override { return synth_.open(deviceId, handle); }
    int close(std::uint32_t handle) override { return synth_.close(handle); }
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override
    {
        const int result = synth_.sendShortMsg(handle, message);
        if (noteOnNs == 0 && (message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) > 0) {
            noteOnNs = nowNs();
            if (onNoteOn)
                onNoteOn();
        }
        return result;
    }

private:
    SynthService& synth_;
};

void key(QObject* target, quint32 code, bool down)
{
    QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Z, Qt::NoModifier, code, 0, 0);
    QCoreApplication::sendEvent(target, &e);
}

void runLoop(QEventLoop& loop, int ms)
{
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// state.range(0): 0 = no instrument changes, 1 = a song's changes through the
// synthesizer (now), 2 = the same changes made by FluidSynth on the UI
// thread (before).
void BM_KeyDuringInstrumentChanges(benchmark::State& state)
{
    const int mode = int(state.range(0));
    Playing playing;
    if (!playing.start(state))
        return;
    playing.synth->close(playing.handle);  // the keyboard opens its own
    DirectSynth before;
    HandedOver service(*playing.synth);
    MidiOut port(&service);
    std::vector<double> us;
    {
        MIDi midi;
        midi.setPort(&port);
        midi.LoadSettings(LowerKeyboardSettings(), false);
        midi.StartMIDi();
        QTimer song;
        QObject::connect(&song, &QTimer::timeout, [&] {
            if (mode == 2)
                before.change(kSongChannel, nextProgram());
            else
                port.ProgramChange(kSongChannel, 0, std::int16_t(nextProgram()));
        });
        if (mode != 0)
            song.start(kChangeEveryMs);
        bool other = false;
        int rest = 0;
        for (auto _ : state) {
            const quint32 code = other ? kX : kZ;
            other = !other;
            // Rests of 11 to 23 ms: the keys fall on every moment of a change.
            rest = (rest + 5) % 13;
            service.noteOnNs = 0;
            QEventLoop until;
            service.onNoteOn = [&until] { until.quit(); };
            // The key is struck by a hand, not by the UI thread: it comes in
            // whatever the thread is doing, and waits for it as a key from
            // the window system would.
            std::atomic<std::int64_t> t0{0};
            auto* press = new QKeyEvent(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, code, 0, 0);  // made here: it asks Qt for the keyboard
            std::thread hand([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(11 + rest));
                t0.store(nowNs());
                QCoreApplication::postEvent(&midi, press);
            });
            runLoop(until, 1000);
            hand.join();
            service.onNoteOn = nullptr;
            if (service.noteOnNs == 0) {
                state.SkipWithError("a key sent no note-on");
                break;
            }
            const double t = double(service.noteOnNs - t0.load()) / 1e3;
            state.SetIterationTime(t / 1e6);
            us.push_back(t);
            key(&midi, code, false);
        }
        song.stop();
        midi.StopMIDi();
    }
    if (!us.empty()) {
        state.counters["p99_us"] = percentile(us, 0.99);
        std::fprintf(stderr, "instrument change, key event -> note-on handed to the synthesizer %s: median %.1f us, "
                             "p99 %.1f us, max %.1f us\n",
                     mode == 0   ? "without instrument changes"
                     : mode == 1 ? "while a song changes instruments every 100 ms (now)"
                                 : "while a song changes instruments every 100 ms on the UI thread (before)",
                     percentile(us, 0.5), percentile(us, 0.99), percentile(us, 1.0));
    }
}
BENCHMARK(BM_KeyDuringInstrumentChanges)->Arg(0)->Arg(1)->Arg(2)->Iterations(500)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
