// Instrument benchmarks: the cost of a keyboard poll that finds nothing new,
// and how long a key press takes from entering the application to the
// note-on reaching the MIDI service.
#include "instrument/keyboarddevice.h"
#include "instrument/instrument.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr quint32 kZNativeScanCode = 44 + 8;  // Z: Linux key code + 8, as X11 reports it
constexpr double kPollIntervalUs = 5000.0;

// One started lower keyboard on a recording service, as the window runs it
// but without its countdown timers, so the service sees only the strikes.
struct Keyboard {
    explicit Keyboard(std::unique_ptr<KeyboardDevice> device = nullptr)
    {
        midi = device ? std::make_unique<MIDi>(std::move(device)) : std::make_unique<MIDi>();
        midi->setPort(&port);
        midi->LoadSettings(LowerKeyboardSettings(), false);
        midi->StartMIDi();
        service.clear();
    }
    ~Keyboard()
    {
        midi.reset();
    }
    RecordingService service;
    MidiOut port{&service};
    std::unique_ptr<MIDi> midi;
};

void BM_PollTickNoChange(benchmark::State& state)
{
    Keyboard keyboard(std::make_unique<ApplicationKeyboard>());
    keyboard.midi->pollTick();
    for (auto _ : state)
        keyboard.midi->pollTick();
    state.counters["target_us"] = 2.0;
}
BENCHMARK(BM_PollTickNoChange)->Unit(benchmark::kNanosecond);

bool noteOnSince(const RecordingService& service, std::size_t from)
{
    for (std::size_t i = from; i < service.messages.size(); ++i)
        if ((service.messages[i].status & 0xF0) == 0x90)
            return true;
    return false;
}

void BM_KeyEventToNoteOn(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    Keyboard keyboard;  // the application's own keyboard, created by StartMIDi
    MIDi& midi = *keyboard.midi;
    std::vector<double> samples;
    samples.reserve(std::size_t(state.max_iterations));
    bool lost = false;

    for (auto _ : state) {
        keyboard.service.clear();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, kZNativeScanCode, 0, 0);
        const auto start = Clock::now();
        QCoreApplication::sendEvent(&midi, &press);
        while (!noteOnSince(keyboard.service, 0)) {
            if (Clock::now() - start > std::chrono::milliseconds(100)) {
                lost = true;
                break;
            }
            QCoreApplication::processEvents();
        }
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        state.SetIterationTime(us / 1e6);
        samples.push_back(us);

        // Let go and wait until the poll has seen it, so the next press is new.
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Z, Qt::NoModifier, kZNativeScanCode, 0, 0);
        QCoreApplication::sendEvent(&midi, &release);
        const auto released = Clock::now();
        while (midi.keyColor(12) == QColor(250, 210, 0) && Clock::now() - released < std::chrono::milliseconds(100))
            QCoreApplication::processEvents();
    }

    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    const double worst = samples.back();
    state.counters["median_us"] = median;
    state.counters["max_us"] = worst;
    std::fprintf(stderr,
                 "key event -> note-on over %zu presses: median %.1f us (target < 1000), max %.1f us (target < %.0f)%s\n",
                 samples.size(), median, worst, kPollIntervalUs, lost ? "; SOME PRESSES WERE LOST" : "");
    if (lost)
        state.SkipWithError("a key press never produced its note-on");
}
BENCHMARK(BM_KeyEventToNoteOn)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace
