// What a player feels of the sound path: from a key event to the first
// audible sample of its note handed to the sound server, plus what the
// stream's buffer holds in front of it; and from a key event to its note-on
// while a recording writes to a disk whose syncs are slow.
#include "instrument/midi.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/pulseoutput.h"
#include "midi/services/recordingservice.h"
#include "midi/services/synthservice.h"
#include "songs/songfile.h"
#include "window/form2.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr quint32 kZ = 44 + 8, kX = 45 + 8;  // native scan codes (Linux key code + 8)

std::int64_t nowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

bool waitFor(const std::function<bool()>& done, int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void key(QObject* target, quint32 code, bool down)
{
    QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Z, Qt::NoModifier, code, 0, 0);
    QCoreApplication::sendEvent(target, &e);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// Run against the user's sound server (make bench starts a private one).
// state.range(0): 1 = the stream rests before each key, 0 = it is awake.
void BM_KeyToSound(benchmark::State& state)
{
    const bool fromRest = state.range(0) == 1;
    SynthService synth;
    MidiOut::SetService(&synth);
    {
        MIDi midi;
        midi.LoadSettings(LowerKeyboardSettings(), false);
        midi.StartMIDi();
        auto* out = dynamic_cast<PulseOutput*>(synth.audioOutput());
        if (!out) {
            state.SkipWithError("no PulseAudio server");
            MidiOut::SetService(nullptr);
            return;
        }
        std::vector<double> total, toSound, buffered;
        bool lost = false;
        for (auto _ : state) {
            midi.Mute();
            waitFor([&] { return !out->audible(); }, 5000);
            if (fromRest)
                waitFor([&] { return out->resting(); }, 5000);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::int64_t t0 = nowNs();
            key(&midi, kZ, true);
            if (!waitFor([&] { return out->soundStartNs() > t0; }, 1000)) {
                lost = true;
                break;
            }
            const double ms = double(out->soundStartNs() - t0) / 1e6;
            const double bufferMs = double(out->bufferedUs()) / 1e3;
            state.SetIterationTime((ms + bufferMs) / 1e3);
            toSound.push_back(ms);
            buffered.push_back(bufferMs);
            total.push_back(ms + bufferMs);
            key(&midi, kZ, false);
            waitFor([&] { return false; }, 20);  // the poll sees the release
        }
        if (!total.empty()) {
            state.counters["median_ms"] = percentile(total, 0.5);
            std::fprintf(stderr,
                         "key event -> sound handed to the server + stream buffer (%s): median %.2f ms (%.2f + %.2f), "
                         "max %.2f ms, target median <= 6 ms\n",
                         fromRest ? "stream resting" : "stream awake", percentile(total, 0.5), percentile(toSound, 0.5),
                         percentile(buffered, 0.5), percentile(total, 1.0));
        }
        if (lost)
            state.SkipWithError("a key never sounded");
        midi.StopMIDi();
    }
    MidiOut::SetService(nullptr);
}
BENCHMARK(BM_KeyToSound)->Arg(1)->Arg(0)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// Keeps the moment the first note-on since the last clear() reached the
// port: the key's note-on is timed where it leaves the program, not when the
// loop below next looks (the window may paint the key in between).
class StampingService : public RecordingService {
public:
    std::int64_t noteOnNs = 0;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override
    {
        if (noteOnNs == 0 && (message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) > 0)
            noteOnNs = nowNs();
        return RecordingService::sendShortMsg(handle, message);
    }
};

// state.range(0): 1 = while recording, 0 = the same key path without a
// recording, which shows what the recording adds.
void BM_KeyToNoteOn(benchmark::State& state)
{
    const bool recording = state.range(0) == 1;
    // Every sync of the song file takes 50 ms, as on a slow or busy disk.
    songs::SetDataSyncForTesting([](int fd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return fdatasync(fd) == 0;
    });
    StampingService service;
    MidiOut::SetService(&service);
    QTemporaryDir dir;
    std::vector<double> us;
    bool lost = false;
    {
        Form2Options options;
        options.appDir = dir.path();
        Form2 form(options);
        form.beep = [] {};
        form.exitProcess = [] {};
        form.Load();
        form.Activate();
        if (recording) {
            QTimer::singleShot(0, &form, [&form] { form.Command1_Click(); });  // the title panel's OK
            form.Com_Click(1);                                                // Record
        }
        bool other = false;
        for (auto _ : state) {
            const quint32 code = other ? kX : kZ;
            other = !other;
            service.clear();
            service.noteOnNs = 0;
            const std::int64_t t0 = nowNs();
            key(&form, code, true);
            if (!waitFor([&] { return service.noteOnNs != 0; }, 500)) {
                lost = true;
                break;
            }
            const double t = double(service.noteOnNs - t0) / 1e3;
            state.SetIterationTime(t / 1e6);
            us.push_back(t);
            key(&form, code, false);
            waitFor([&] { return false; }, 2);
        }
        if (recording)
            form.Com_Click(7);  // Stop
        form.Unload();
    }
    MidiOut::SetService(nullptr);
    songs::SetDataSyncForTesting(nullptr);
    if (lost)
        state.SkipWithError("a key sent no note-on");
    if (!us.empty()) {
        state.counters["p99_us"] = percentile(us, 0.99);
        std::fprintf(stderr, "key event -> note-on %s: median %.1f us, p90 %.1f us, p99 %.1f us%s, max %.1f us\n",
                     recording ? "while recording, disk sync 50 ms" : "without a recording (for comparison)",
                     percentile(us, 0.5), percentile(us, 0.9), percentile(us, 0.99),
                     recording ? " (target p99 <= 100 us)" : "", percentile(us, 1.0));
    }
}
BENCHMARK(BM_KeyToNoteOn)->Arg(1)->Arg(0)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
