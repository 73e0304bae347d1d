// One lower keyboard in a window, played by real key presses from outside
// (xdotool under Xvfb). Every MIDI message goes to the trace file given as the
// first argument; key colour changes and readiness are printed on stdout with
// the monotonic clock in milliseconds, so a driver can line them up with the
// moments it pressed and released keys.
#include "instrument/instrument.h"
#include "instrument/platform/autorepeat.h"
#include "instrument/propertybag.h"
#include "midi/midiout.h"
#include "midi/services/recordingservice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdio>

namespace {

long long monotonicMs()
{
    QElapsedTimer clock;
    clock.start();
    return clock.msecsSinceReference();
}

// Prints every key event the window system delivers, so the driver can tell
// whether the server repeated the held key.
class KeyLog : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && watched->isWindowType()) {
            const auto* key = static_cast<QKeyEvent*>(event);
            std::printf("key %lld %s %u %d\n", monotonicMs(), event->type() == QEvent::KeyPress ? "press" : "release",
                        key->nativeScanCode(), key->isAutoRepeat() ? 1 : 0);
            std::fflush(stdout);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TRACE [SECONDS]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;

    RecordingService service;
    MidiOut port(&service);
    if (!port.SetTrace(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 2;
    }

    KeyLog keyLog;
    app.installEventFilter(&keyLog);

    QWidget window;
    window.setWindowTitle(QStringLiteral("instrument harness"));
    auto* midi = new MIDi(&window);
    midi->setObjectName(QStringLiteral("MIDi1"));
    midi->setPort(&port);
    midi->LoadSettings(LowerKeyboardSettings(), true);
    window.resize(midi->size());
    window.show();
    midi->StartMIDi();
    window.activateWindow();

    // Colour changes, watched from outside the control as a user would see them.
    std::array<QColor, 65> shown;
    for (int k = 0; k < 65; ++k)
        shown[std::size_t(k)] = midi->keyColor(k);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int k = 0; k < 65; ++k) {
            const QColor c = midi->keyColor(k);
            if (c == shown[std::size_t(k)])
                continue;
            shown[std::size_t(k)] = c;
            const bool struck = c == QColor(250, 210, 0) || c == QColor(0, 180, 230);
            std::printf("colour %lld %d %s\n", monotonicMs(), k, struck ? "struck" : "rest");
            std::fflush(stdout);
        }
    });
    watch.start(1);

    QTimer::singleShot(300, [&] {
        std::printf("autorepeat %d\n", RequestDetectableAutoRepeat() ? 1 : 0);
        std::printf("ready %llu %lld\n", static_cast<unsigned long long>(window.winId()), monotonicMs());
        std::fflush(stdout);
    });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    const int rc = app.exec();
    delete midi;
    port.SetTrace("");
    return rc;
}
