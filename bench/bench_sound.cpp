// What a player feels of the sound path: from a key event to the first
// audible sample of its note handed to the sound server, plus what the
// stream's buffer holds in front of it; and from a key event to its note-on
// while a recording writes to a disk whose syncs are slow; and in a lesson
// that waits for the player, from the right key to the song's next note and
// to the next key's mark on the screen. On an X display the keys are real:
// pressed through the X server into a shown window.
#include "instrument/instrument.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/pulseoutput.h"
#include "midi/services/recordingservice.h"
#include "midi/services/synthservice.h"
#include "songs/songfile.h"
#include "instrument/keyboardview.h"
#include "window/form2.h"
#include "window/lessonrun.h"
#include "window/songcommands.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#ifdef SONAREL_BENCH_XTEST
#include "xtestkeys.h"

#include <xcb/xcb.h>
#endif

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
// state.range(0): 1 = the stream rests before each key, 0 = it is awake,
// 2 = it rested so long that it was closed (in the program after 30 s; here
// after a moment) and the key opens a new one.
void BM_KeyToSound(benchmark::State& state)
{
    const bool fromRest = state.range(0) >= 1;
    const bool fromClosed = state.range(0) == 2;
    SynthConfig config;
    if (fromClosed)
        config.closeStreamAfterMs = 200;
    SynthService synth(config);
    MidiOut port(&synth);
    {
        MIDi midi;
        midi.setPort(&port);
        midi.LoadSettings(LowerKeyboardSettings(), false);
        midi.StartMIDi();
        synth.waitForAudio(5000);  // the output opens on a thread of its own
        auto* out = dynamic_cast<PulseOutput*>(synth.audioOutput());
        if (!out) {
            state.SkipWithError("no PulseAudio server");
            return;
        }
        std::vector<double> total, toSound, buffered;
        bool lost = false;
        for (auto _ : state) {
            midi.Mute();
            waitFor([&] { return !out->audible(); }, 5000);
            if (fromClosed)
                waitFor([&] { return out->closed(); }, 5000);
            else if (fromRest)
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
                         "max %.2f ms, target median <= %d ms\n",
                         fromClosed ? "stream closed" : fromRest ? "stream resting" : "stream awake",
                         percentile(total, 0.5), percentile(toSound, 0.5), percentile(buffered, 0.5),
                         percentile(total, 1.0), fromClosed ? 20 : 10);
        }
        if (lost)
            state.SkipWithError("a key never sounded");
        midi.StopMIDi();
    }
}
BENCHMARK(BM_KeyToSound)->Arg(1)->Arg(0)->Arg(2)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

// Keeps the moment the first note-on since the last clear() reached the
// port: the key's note-on is timed where it leaves the program, not when the
// loop below next looks (the window may paint the key in between).
class StampingService : public RecordingService {
public:
    std::int64_t noteOnNs = 0, noteOffNs = 0;
    int struckNote = -1;
    int channel = -1;  // the note-ons stamped: this channel's only, or any
    std::function<void()> onNoteOn, onNoteOff;
    int sendShortMsg(std::uint32_t handle, std::uint32_t message) override
    {
        const bool on = (message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) > 0 &&
                        (channel < 0 || int(message & 0x0F) == channel);
        const bool off = (message & 0xF0) == 0x80 || ((message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) == 0);
        const int note = int((message >> 8) & 0x7F);
        if (noteOnNs == 0 && on) {
            noteOnNs = nowNs();
            struckNote = note;
            if (onNoteOn)
                onNoteOn();
        }
        // Only the struck note's own note-off: the countdown sends one for
        // every idle key on each tick, and one may come first.
        if (noteOnNs != 0 && noteOffNs == 0 && off && note == struckNote) {
            noteOffNs = nowNs();
            if (onNoteOff)
                onNoteOff();
        }
        return RecordingService::sendShortMsg(handle, message);
    }
};

// Where the keys come from. Offscreen they are Qt events handed to the
// window, timed from the hand-over. On an X display they are pressed through
// the X server (XTest) into the shown window, and timed from the moment the
// program takes the X event in, before Qt has made a key event of it.
class KeySource {
public:
    virtual ~KeySource() = default;
    virtual bool ready() { return true; }
    // Presses or lets go of a key (a native scan code); keyNs() then tells
    // when the program took the press or the release in, 0 while it has not.
    virtual void press(quint32 code) = 0;
    virtual void release(quint32 code) = 0;
    virtual std::int64_t keyNs() const = 0;
    // The time from the X server's input to the program, when it is known.
    virtual double inputUs() const { return 0; }
    virtual const char* name() const = 0;
};

class SentKeys : public KeySource {
public:
    explicit SentKeys(QObject* target) : target_(target) {}
    void press(quint32 code) override
    {
        t0_ = nowNs();
        key(target_, code, true);
    }
    void release(quint32 code) override
    {
        t0_ = nowNs();
        key(target_, code, false);
    }
    std::int64_t keyNs() const override { return t0_; }
    const char* name() const override { return "Qt events to an offscreen window"; }

private:
    QObject* target_;
    std::int64_t t0_ = 0;
};

#ifdef SONAREL_BENCH_XTEST
class XTestKeys : public KeySource, public QAbstractNativeEventFilter {
public:
    XTestKeys() { QCoreApplication::instance()->installNativeEventFilter(this); }
    ~XTestKeys() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool ready() override { return keyboard_.ready(); }
    void press(quint32 code) override { send(code, true); }
    void release(quint32 code) override { send(code, false); }
    std::int64_t keyNs() const override { return arrivedNs_; }
    double inputUs() const override { return double(arrivedNs_ - sentNs_) / 1e3; }
    const char* name() const override { return "real keys to a window on X"; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type == "xcb_generic_event_t" && !arrivedNs_) {
            const auto* event = static_cast<const xcb_generic_event_t*>(message);
            if ((event->response_type & 0x7F) == (down_ ? XCB_KEY_PRESS : XCB_KEY_RELEASE))
                arrivedNs_ = nowNs();
        }
        return false;
    }

private:
    void send(quint32 code, bool down)
    {
        arrivedNs_ = 0;
        down_ = down;
        sentNs_ = nowNs();
        keyboard_.send(code, down);
    }

    XTestKeyboard keyboard_;
    std::int64_t sentNs_ = 0, arrivedNs_ = 0;
    bool down_ = true;
};
#endif

// Runs the event loop as the program waits in it for its next event, until
// quit() or the time is up: nothing else wakes the process meanwhile.
void runLoop(QEventLoop& loop, int ms)
{
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

constexpr int kRestMs = 15;

// The program's window on `port`, its Music in `appDir`, loaded as the
// program loads it; it neither beeps nor ends the process.
std::unique_ptr<Form2> loadedWindow(MidiOut& port, const QString& appDir)
{
    Form2Options options;
    options.appDir = appDir;
    options.port = &port;
    auto form = std::make_unique<Form2>(options);
    form->beep = [] {};
    form->exitProcess = [] {};
    form->Load();
    return form;
}

// Real keys into the window, shown with the focus on the X display; none
// (and `skipped` says why) without XTest or the focus.
std::unique_ptr<KeySource> realKeys(Form2& form, const char*& skipped)
{
    std::unique_ptr<KeySource> keys;
#ifdef SONAREL_BENCH_XTEST
    keys = std::make_unique<XTestKeys>();
#endif
    form.show();
    form.activateWindow();
    for (int i = 0; i < 300 && !form.isActiveWindow(); ++i) {
        QEventLoop wait;
        runLoop(wait, 10);
    }
    if (!keys || !keys->ready() || !form.isActiveWindow()) {
        skipped = "no XTest or no focus on the X display";
        keys.reset();
    }
    return keys;
}

// state.range(0): 1 = while recording, 0 = the same key path without a
// recording, which shows what the recording adds, 2 = in hold mode, where
// the key's release is timed to its note-off instead.
void BM_KeyToNoteOn(benchmark::State& state)
{
    const bool recording = state.range(0) == 1;
    const bool hold = state.range(0) == 2;
    const bool onX = QGuiApplication::platformName() == QLatin1String("xcb");
    // Every sync of the song file takes 50 ms, as on a slow or busy disk.
    songs::SetDataSyncForTesting([](int fd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return fdatasync(fd) == 0;
    });
    StampingService service;
    MidiOut port(&service);
    QTemporaryDir dir;
    std::vector<double> us, input;
    const char* skipped = nullptr;
    const char* source = "";
    {
        const std::unique_ptr<Form2> window = loadedWindow(port, dir.path());
        Form2& form = *window;
        std::unique_ptr<KeySource> keys;
        if (onX) {
            keys = realKeys(form, skipped);
        } else {
            form.Activate();
            keys = std::make_unique<SentKeys>(&form);
        }
        if (!skipped) {
            source = keys->name();
            if (recording) {
                QTimer::singleShot(0, &form, [&form] { form.songCommands().Command1_Click(); });  // the title panel's OK
                form.Com_Click(1);                                                // Record
            }
            form.lowerKeyboard().setHoldMode(hold);
            // Does what moves the key, and waits until the message it should
            // send is stamped (and the key event was taken in).
            const auto awaitMessage = [&keys](std::int64_t& stamp, std::function<void()>& hook, const auto& act) {
                stamp = 0;
                QEventLoop until;
                hook = [&until] { until.quit(); };
                act();
                runLoop(until, 500);
                hook = nullptr;
                return stamp != 0 && keys->keyNs() != 0;
            };
            bool other = false;
            for (auto _ : state) {
                const quint32 code = other ? kX : kZ;
                other = !other;
                service.clear();
                if (!awaitMessage(service.noteOnNs, service.onNoteOn, [&] { keys->press(code); })) {
                    skipped = "a key sent no note-on";
                    break;
                }
                double t = double(service.noteOnNs - keys->keyNs()) / 1e3;
                input.push_back(keys->inputUs());
                if (hold) {
                    // Held a moment, then let go.
                    QEventLoop held;
                    runLoop(held, kRestMs);
                    if (!awaitMessage(service.noteOffNs, service.onNoteOff, [&] { keys->release(code); })) {
                        skipped = "a released key sent no note-off";
                        break;
                    }
                    t = double(service.noteOffNs - keys->keyNs()) / 1e3;
                    input.back() = keys->inputUs();
                } else {
                    keys->release(code);
                }
                state.SetIterationTime(t / 1e6);
                us.push_back(t);
                // The release is taken in and the key painted; then the
                // program rests until the next key, as between a player's notes.
                QEventLoop rest;
                runLoop(rest, kRestMs);
            }
            if (recording)
                form.Com_Click(7);  // Stop
        }
        form.Unload();
    }
    songs::SetDataSyncForTesting(nullptr);
    if (skipped)
        state.SkipWithError(skipped);
    if (!us.empty()) {
        state.counters["p99_us"] = percentile(us, 0.99);
        std::fprintf(stderr, "key event -> %s, %s: median %.1f us, p90 %.1f us, p99 %.1f us%s, max %.1f us\n",
                     hold        ? "note-off, key released in hold mode"
                     : recording ? "note-on while recording, disk sync 50 ms"
                                 : "note-on without a recording (for comparison)",
                     source, percentile(us, 0.5), percentile(us, 0.9), percentile(us, 0.99),
                     recording ? " (target p99 <= 100 us)"
                     : hold    ? " (target median <= 100 us)"
                               : "",
                     percentile(us, 1.0));
        if (onX)
            std::fprintf(stderr, "  before it, X server -> program: median %.1f us, p99 %.1f us\n",
                         percentile(input, 0.5), percentile(input, 0.99));
    }
}
BENCHMARK(BM_KeyToNoteOn)->Arg(1)->Arg(0)->Arg(2)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// When a keyboard's picture next reaches the screen with other lesson keys
// marked than when it was armed: stamped once the paint and the flush to
// the window that follows it are done, at the next turn of the event loop.
class MarkStamp : public QObject {
public:
    explicit MarkStamp(KeyboardView* view) : view_(view) { view->installEventFilter(this); }
    std::int64_t shownNs = 0;
    std::function<void()> onShown;
    void arm()
    {
        shownNs = 0;
        armed_ = true;
        before_ = view_->lessonKeys();
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (armed_ && event->type() == QEvent::Paint && view_->lessonKeys() != before_) {
            armed_ = false;
            QTimer::singleShot(0, this, [this] {
                shownNs = nowNs();
                if (onShown)
                    onShown();
            });
        }
        return false;
    }

private:
    KeyboardView* view_;
    std::vector<int> before_;
    bool armed_ = false;
};

// 练习 下 in 等待: the player strikes each note of the lower part once the
// song waits for it, alternately C3 (Z) and D3 (X); the upper part's note
// with it is the song's next note-on, on the upper keyboard's channel.
void BM_LessonKeyToNextNote(benchmark::State& state)
{
    const int notes = int(state.max_iterations) + 1;
    StampingService service;
    service.channel = 1;
    MidiOut port(&service);
    QTemporaryDir dir;
    // Eighths at a quarter of 240: the song reaches the next note 125 ms on.
    QByteArray upperPart = "上:", lowerPart = "下:";
    for (int i = 0; i < notes; ++i) {
        upperPart += i % 2 ? " 3_" : " 1_";
        lowerPart += i % 2 ? " 2,_" : " 1,_";
        if (i % 8 == 7) {
            upperPart += " |";
            lowerPart += " |";
        }
    }
    const QString text = dir.filePath(QStringLiteral("lesson.txt"));
    QFile file(text);
    if (!file.open(QIODevice::WriteOnly) || file.write("1=C 4/4 \u2669=240\n" + upperPart + "\n" + lowerPart + "\n") < 0) {
        state.SkipWithError("cannot write the lesson's song");
        return;
    }
    file.close();
    std::vector<double> toNote, toMark, input;
    const char* skipped = nullptr;
    {
        const std::unique_ptr<Form2> window = loadedWindow(port, dir.path());
        Form2& form = *window;
        // Only a window on a screen paints the marks.
        const std::unique_ptr<KeySource> keys = realKeys(form, skipped);
        const auto clockMs = [] { return nowNs() / 1000000; };
        LessonRun& lesson = form.lesson();
        lesson.setMonotonicClock(clockMs);
        form.songCommands().playSongArgument(text);
        if (!skipped && !lesson.start(form.songCommands().shownSong(), performance::LessonPart::Lower))
            skipped = "the lesson did not start";
        MarkStamp mark(form.lowerKeyboard().keyboardView());
        bool other = false;
        for (auto _ : state) {
            if (skipped)
                break;
            // The song stands at the player's note; the key struck before
            // has been let go and painted, as between a player's notes.
            for (int i = 0; i < 200 && !(lesson.lesson() && lesson.lesson()->waiting(clockMs())); ++i) {
                QEventLoop wait;
                runLoop(wait, 2);
            }
            QEventLoop rest;
            runLoop(rest, kRestMs);
            if (!lesson.running()) {
                skipped = "the lesson ended early";
                break;
            }
            const quint32 code = other ? kX : kZ;
            other = !other;
            service.clear();
            service.noteOnNs = 0;
            mark.arm();
            QEventLoop until;
            int awaited = 2;
            const auto one = [&until, &awaited] {
                if (--awaited == 0)
                    until.quit();
            };
            service.onNoteOn = one;
            mark.onShown = one;
            keys->press(code);
            runLoop(until, 1000);
            service.onNoteOn = nullptr;
            mark.onShown = nullptr;
            const std::int64_t keyNs = keys->keyNs();
            input.push_back(keys->inputUs());
            keys->release(code);  // never left down in the X server, whatever happened
            if (service.noteOnNs == 0 || mark.shownNs == 0 || keyNs == 0) {
                skipped = "the right key moved nothing on";
                break;
            }
            const double us = double(service.noteOnNs - keyNs) / 1e3;
            toNote.push_back(us);
            toMark.push_back(double(mark.shownNs - keyNs) / 1e3);
            state.SetIterationTime(us / 1e6);
        }
        lesson.stop();
        form.Unload();
    }
    if (skipped)
        state.SkipWithError(skipped);
    if (toNote.empty())
        return;
    std::fprintf(stderr,
                 "lesson in wait mode, right key -> the song's next note-on (real keys to a window on X): median "
                 "%.2f ms, p99 %.2f ms, max %.2f ms (targets <= 2 ms / <= 10 ms)\n",
                 percentile(toNote, 0.5) / 1e3,
                 percentile(toNote, 0.99) / 1e3, percentile(toNote, 1.0) / 1e3);
    std::fprintf(stderr,
                 "lesson in wait mode, right key -> the next key's mark painted and flushed: median %.2f ms, p99 %.2f "
                 "ms, max %.2f ms (target <= 16 ms, one frame)\n",
                 percentile(toMark, 0.5) / 1e3, percentile(toMark, 0.99) / 1e3, percentile(toMark, 1.0) / 1e3);
    std::fprintf(stderr, "  before them, X server -> program: median %.1f us, p99 %.1f us\n", percentile(input, 0.5),
                 percentile(input, 0.99));
}
BENCHMARK(BM_LessonKeyToNextNote)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
