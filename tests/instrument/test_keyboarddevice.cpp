// The application keyboard: native scan codes become the key map's codes,
// held keys never strike twice, and nothing sticks when the application loses
// the focus.
#include "instrument/keyboarddevice.h"
#include "platform/nativecodes.h"
#include "rig.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define HAVE_XCB_EVENTS 1
#endif

namespace {

// A key event as the window system delivers it, for the key of `code` in the
// key map's table. Qt's key is deliberately unhelpful: only the scan code counts.
void sendKey(QObject* target, QEvent::Type type, int code, bool autoRepeat = false,
             Qt::Key key = Qt::Key_unknown)
{
    QKeyEvent event(type, key, Qt::NoModifier, NativeCodeOf(code), 0, 0, QString(), autoRepeat);
    QCoreApplication::sendEvent(target, &event);
}

}  // namespace

class KeyboardDeviceTest : public QObject {
    Q_OBJECT
private slots:
    void nativeScanCodesBecomeKeyMapCodes();
    void keyEventsFillTheTableWhicheverWidgetHasFocus();
    void autoRepeatNeverPressesAgain();
    void deactivationReleasesEveryKey();
    void keyEventReachesTheNoteEngine();
    void aKeyFromTheWindowSystemSoundsBeforeWaitingEvents();
};

void KeyboardDeviceTest::nativeScanCodesBecomeKeyMapCodes()
{
    for (const auto& [native, code] : PlatformKeyCodes())
        QCOMPARE(ScanCodeFromNative(native), code);
    // No native code (QTest's own key clicks) and keys outside the table.
    QCOMPARE(ScanCodeFromNative(0), -1);
    QCOMPARE(ScanCodeFromNative(0x1FF + 0x100), -1);
}

void KeyboardDeviceTest::keyEventsFillTheTableWhicheverWidgetHasFocus()
{
    ApplicationKeyboard keyboard;
    QLineEdit edit;  // some other widget of the application
    QSignalSpy changes(&keyboard, &KeyboardDevice::changed);

    sendKey(&edit, QEvent::KeyPress, 44, false, Qt::Key_Z);
    QVERIFY(keyboard.isDown(44));
    // The numeric pad 0 is found by its scan code whatever Num Lock makes of it.
    sendKey(&edit, QEvent::KeyPress, 82, false, Qt::Key_Insert);
    QVERIFY(keyboard.isDown(82));
    sendKey(&edit, QEvent::KeyPress, 203, false, Qt::Key_Left);
    QVERIFY(keyboard.isDown(203));
    QCOMPARE(changes.count(), 3);

    sendKey(&edit, QEvent::KeyRelease, 44);
    QVERIFY(!keyboard.isDown(44));
    QVERIFY(keyboard.isDown(82));

    // QTest's key clicks carry no scan code and change nothing.
    QTest::keyClick(&edit, Qt::Key_Z);
    QCOMPARE(changes.count(), 4);

    // The state is readable only while acquired.
    KeyboardDevice::State state{};
    QVERIFY(!keyboard.readState(state));
    keyboard.acquire();
    QVERIFY(keyboard.readState(state));
    QCOMPARE(state[82], KeyboardDevice::kDown);
    QCOMPARE(state[44], std::uint8_t(0));
    keyboard.unacquire();
    QVERIFY(!keyboard.readState(state));
}

void KeyboardDeviceTest::autoRepeatNeverPressesAgain()
{
    ApplicationKeyboard keyboard;
    QWidget target;
    QSignalSpy changes(&keyboard, &KeyboardDevice::changed);
    sendKey(&target, QEvent::KeyPress, 44);
    // Repeats Qt recognises, as press and as release+press pairs...
    sendKey(&target, QEvent::KeyPress, 44, true);
    sendKey(&target, QEvent::KeyRelease, 44, true);
    sendKey(&target, QEvent::KeyPress, 44, true);
    // ...and a repeat press it did not recognise.
    sendKey(&target, QEvent::KeyPress, 44);
    QCOMPARE(changes.count(), 1);
    QVERIFY(keyboard.isDown(44));

    // Through the engine: one strike for the whole hold.
    RecordingService service;
    MidiOut port(&service);
    {
        MIDi midi(std::make_unique<ApplicationKeyboard>());
        midi.setPort(&port);
        midi.LoadSettings(LowerKeyboardSettings(), false);
        midi.StartMIDi();
        int strikes = 0;
        connect(&midi, &MIDi::NotePlayed, &midi, [&strikes](std::int16_t) { ++strikes; });
        sendKey(&midi, QEvent::KeyPress, 44);
        midi.pollTick();
        for (int i = 0; i < 5; ++i) {
            sendKey(&midi, QEvent::KeyRelease, 44, true);
            sendKey(&midi, QEvent::KeyPress, 44, true);
            sendKey(&midi, QEvent::KeyPress, 44);
            midi.pollTick();
        }
        QCOMPARE(strikes, 1);
    }
    port.CloseMidiOut();
}

void KeyboardDeviceTest::deactivationReleasesEveryKey()
{
    ApplicationKeyboard keyboard;
    QWidget target;
    sendKey(&target, QEvent::KeyPress, 44);
    sendKey(&target, QEvent::KeyPress, 203);
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QCoreApplication::sendEvent(qApp, &deactivate);
    QVERIFY(!keyboard.isDown(44));
    QVERIFY(!keyboard.isDown(203));

    sendKey(&target, QEvent::KeyPress, 30);
    QApplicationStateChangeEvent inactive(Qt::ApplicationInactive);
    QCoreApplication::sendEvent(qApp, &inactive);
    QVERIFY(!keyboard.isDown(30));

    // The engine then shows the keys released.
    Rig rig(LowerKeyboardSettings());
    rig.start();
    rig.press(scan::Z);
    rig.keys->releaseAll();
    rig.midi->pollTick();
    QCOMPARE(rig.midi->keyColor(12), restWhite());
}

void KeyboardDeviceTest::keyEventReachesTheNoteEngine()
{
    RecordingService service;
    MidiOut port(&service);
    {
        MIDi midi;  // creates the application keyboard when it starts
        midi.setPort(&port);
        midi.LoadSettings(LowerKeyboardSettings(), false);
        midi.StartMIDi();
        QVERIFY(midi.keyboardDevice() != nullptr);
        service.clear();
        QWidget elsewhere;
        sendKey(&elsewhere, QEvent::KeyPress, 44, false, Qt::Key_Z);
        QCoreApplication::processEvents();  // the change wakes the poll
        QCOMPARE(service.bytes(), std::string("90 30 7F"));
        sendKey(&elsewhere, QEvent::KeyRelease, 44, false, Qt::Key_Z);
        QCoreApplication::processEvents();
        QCOMPARE(midi.keyColor(12), restWhite());
    }
    port.CloseMidiOut();
}

void KeyboardDeviceTest::aKeyFromTheWindowSystemSoundsBeforeWaitingEvents()
{
#ifndef HAVE_XCB_EVENTS
    QSKIP("built without X11's event headers");
#else
    RecordingService service;
    MidiOut port(&service);
    {
        // Both keyboards, as in the window; the upper one answers only the
        // numeric pad, and its filter, installed last, sees the key first.
        MIDi upper;
        upper.LoadSettings(UpperKeyboardSettings(), false);
        upper.setPort(&port);
        upper.StartMIDi();
        MIDi lower;
        lower.LoadSettings(LowerKeyboardSettings(), false);
        lower.setPort(&port);
        lower.StartMIDi();
        std::vector<KeyboardDevice*> devices{upper.keyboardDevice(), lower.keyboardDevice()};
        // The key is lit when it is reported, before its note goes out.
        QColor litWhenReported;
        connect(&lower, &MIDi::NotePlayed, &lower, [&](std::int16_t) { litWhenReported = lower.keyColor(12); });
        auto deliver = [&](std::uint8_t type, int linuxCode) {
            xcb_key_press_event_t event{};
            event.response_type = type;
            event.detail = xcb_keycode_t(NativeCodeOf(linuxCode));
            for (auto* device : devices)
                dynamic_cast<ApplicationKeyboard*>(device)->nativeEventFilter("xcb_generic_event_t", &event, nullptr);
        };
        service.clear();
        // An event already waiting in the queue runs only once both polls
        // are done: the note does not wait behind it.
        bool waitingRan = false;
        QMetaObject::invokeMethod(
            qApp, [&] { waitingRan = true; }, Qt::QueuedConnection);
        deliver(XCB_KEY_PRESS, 44);  // Z
        QCOMPARE(service.bytes(), std::string("90 30 7F"));  // no event loop ran for it
        QVERIFY(!waitingRan);
        QCOMPARE(litWhenReported, QColor(250, 210, 0));

        // A press another client sent (the top bit set) counts as well; any
        // other event or another system's event changes nothing.
        service.clear();
        deliver(XCB_KEY_PRESS | 0x80, 82);  // numeric pad 0: the upper keyboard
        QCOMPARE(service.bytes(), std::string("91 37 7F"));
        xcb_button_press_event_t button{};
        button.response_type = XCB_BUTTON_PRESS;
        button.detail = xcb_keycode_t(NativeCodeOf(45));
        for (auto* device : devices) {
            dynamic_cast<ApplicationKeyboard*>(device)->nativeEventFilter("xcb_generic_event_t", &button, nullptr);
            xcb_key_press_event_t key{};
            key.response_type = XCB_KEY_PRESS;
            key.detail = xcb_keycode_t(NativeCodeOf(45));
            dynamic_cast<ApplicationKeyboard*>(device)->nativeEventFilter("windows_generic_MSG", &key, nullptr);
        }
        QVERIFY(!lower.keyboardDevice()->isDown(45));

        deliver(XCB_KEY_RELEASE, 44);
        QVERIFY(!lower.keyboardDevice()->isDown(44));
        QCOMPARE(lower.keyColor(12), restWhite());
    }
    port.CloseMidiOut();
#endif
}

QTEST_MAIN(KeyboardDeviceTest)
#include "test_keyboarddevice.moc"
