// The note engine: key strikes from the keyboard table, the countdown, the
// silencer, Mute, Play and the setters, checked byte for byte on a recording
// MIDI service.
#include "rig.h"

#include <QCoreApplication>
#include <QTest>

class EngineTest : public QObject {
    Q_OBJECT
private slots:
    void lowerKeyboardZSoundsAndEndsByCountdown();
    void upperKeyboardKeypadZeroUsesItsChannel();
    void silencerEndsPreviousNote();
    void countdownEndsTheNoteItsKeyNamesNow();
    void muteLeavesOutTone();
    void noteAbove127IsDroppedWhileTheChordSounds();
    void keyBoardBlockChoosesTheKeys();
    void spaceBarMutesOnPressAndRelease();
    void playClampsAndReleasesAfterItsTicks();
    void settersClampAndOnlyInstrumentSends();
    void mlongNegativeRefusedZeroStopsCountdown();
    void enabledReachesThePollOnlyWhileStarted();
    void pollRunsOnEveryChangeAndOnlyThen();
    void stopClosesItsPortForBothKeyboards();
    void keyboardsOnOneChannelEndEachOthersNotes();
    void notePlayedComesBeforeTheNoteOn();
    void nestedPollDoesNotStrikeTwice();
    void keyboardChangeWakesThePoll();
    void loadedOutOfRangeValuesSendNothingBroken();
    void heldKeysAndThePedalOutlastTheCountdown();
};

void EngineTest::lowerKeyboardZSoundsAndEndsByCountdown()
{
    Rig rig(LowerKeyboardSettings());
    rig.midi->StartMIDi();
    QCOMPARE(rig.bytes(), std::string("B0 00 00,C0 00 00"));
    rig.service.clear();

    rig.press(scan::Z);
    // The silencer's note-off for key 0, struck "before" creation, ends
    // nothing that sounds: it is not sent.
    QCOMPARE(rig.bytes(), std::string("90 30 7F"));
    QCOMPARE(rig.played, std::vector<int>{12});
    QCOMPARE(rig.midi->keyColor(12), QColor(250, 210, 0));
    QCOMPARE(rig.midi->noteTimes(12), std::int16_t(10));

    // Held down all along: the countdown, not the key, ends the note.
    for (int tick = 1; tick <= 10; ++tick) {
        rig.midi->countdownTick();
        QCOMPARE(rig.count(0x80, 0x30, 0), 0);
    }
    rig.midi->countdownTick();
    QCOMPARE(rig.count(0x80, 0x30, 0), 1);
    QVERIFY(rig.keys->isDown(scan::Z));
    QCOMPARE(rig.midi->keyColor(12), QColor(250, 210, 0));

    // Releasing only restores the colour.
    rig.service.clear();
    rig.release(scan::Z);
    QCOMPARE(rig.bytes(), std::string());
    QCOMPARE(rig.midi->keyColor(12), restWhite());
    QCOMPARE(rig.played.size(), std::size_t(1));
}

void EngineTest::upperKeyboardKeypadZeroUsesItsChannel()
{
    Rig rig(UpperKeyboardSettings());
    rig.midi->StartMIDi();
    QCOMPARE(rig.bytes(), std::string("B1 00 00,C1 0C 00"));
    rig.service.clear();

    rig.press(scan::Keypad0);
    QCOMPARE(rig.bytes(), std::string("91 37 7F"));
    QCOMPARE(rig.played, std::vector<int>{19});
    for (int tick = 1; tick <= 10; ++tick)
        rig.midi->countdownTick();
    QCOMPARE(rig.count(0x81, 0x37, 0), 0);
    rig.midi->countdownTick();
    QCOMPARE(rig.count(0x81, 0x37, 0), 1);
    QCOMPARE(rig.count(0x80, 0x37, 0), 0);  // nothing on the other channel

    // The main block is the lower keyboard's.
    rig.played.clear();
    rig.press(scan::Z);
    QVERIFY(rig.played.empty());
}

void EngineTest::silencerEndsPreviousNote()
{
    Rig rig(LowerKeyboardSettings());
    rig.start();
    rig.press(scan::Z);
    rig.release(scan::Z);
    rig.service.clear();
    rig.press(scan::Z);  // the same key again: its own note first
    QCOMPARE(rig.bytes(), std::string("80 30 00,90 30 7F"));
    rig.release(scan::Z);

    rig.service.clear();
    rig.press(scan::A);  // key 24 ends key 12's note
    QCOMPARE(rig.bytes(), std::string("80 30 00,90 3C 7F"));
    QCOMPARE(rig.midi->currentKey(), std::int16_t(24));

    // Without the silencer a sounding key is struck again with no note-off,
    // and its countdown starts over.
    rig.midi->SetSilencer(false);
    rig.midi->countdownTick();
    rig.midi->countdownTick();
    QCOMPARE(rig.midi->noteTimes(24), std::int16_t(8));
    rig.release(scan::A);
    rig.service.clear();
    rig.press(scan::A);
    QCOMPARE(rig.bytes(), std::string("90 3C 7F"));
    QCOMPARE(rig.midi->noteTimes(24), std::int16_t(10));
}

void EngineTest::countdownEndsTheNoteItsKeyNamesNow()
{
    Rig rig;
    rig.start();
    rig.midi->countdownTick();
    QCOMPARE(rig.bytes(), std::string());  // nothing sounds: nothing to end

    // A key whose count ran out ends the note Pitch and Tone give at the
    // tick: note 42 never sounded, so note 36 sounds on ...
    rig.midi->Play(0, 1);
    rig.midi->SetPitch(40);
    rig.midi->SetTone(2);
    for (int tick = 0; tick < 11; ++tick)
        rig.midi->countdownTick();
    QCOMPARE(rig.bytes(), std::string("90 24 7F"));
    // ... until an idle key names it again.
    rig.midi->SetPitch(30);
    rig.midi->SetTone(0);
    rig.midi->countdownTick();
    QCOMPARE(rig.bytes(), std::string("90 24 7F,80 24 00"));
    rig.midi->countdownTick();
    QCOMPARE(rig.service.messages.size(), std::size_t(2));
}

void EngineTest::muteLeavesOutTone()
{
    Rig rig;
    rig.start();
    rig.midi->SetTone(3);
    rig.midi->SetChannel(5);
    rig.midi->Play(64, 1);
    rig.service.clear();
    rig.midi->Mute();
    QCOMPARE(rig.bytes(), noteOffs(5, 36, 100));  // 101..103 are missed
    QCOMPARE(rig.midi->noteTimes(64), std::int16_t(10));  // countdowns stay
    QCOMPARE(rig.midi->keyColor(64), QColor(250, 210, 0));
}

void EngineTest::noteAbove127IsDroppedWhileTheChordSounds()
{
    Rig rig;
    rig.start();
    rig.midi->SetPitch(63);
    rig.midi->SetTone(11);
    rig.midi->Play(50, 1);  // 124
    rig.midi->Play(64, 1);  // 138: silent
    rig.midi->Play(53, 1);  // 127
    QCOMPARE(rig.bytes(), std::string("90 7C 7F,90 7F 7F"));
    QCOMPARE(rig.played, (std::vector<int>{50, 64, 53}));
    QCOMPARE(rig.midi->keyColor(64), QColor(250, 210, 0));
    QCOMPARE(rig.midi->noteTimes(64), std::int16_t(10));

    // The countdown never sends the impossible notes either.
    rig.service.clear();
    rig.midi->Mute();
    rig.midi->countdownTick();
    for (const auto& m : rig.service.messages)
        QVERIFY(m.data1 <= 127);
}

void EngineTest::keyBoardBlockChoosesTheKeys()
{
    struct Case {
        int block;
        std::vector<int> expected;
    };
    const Case cases[] = {{0, {}}, {1, {12, 48}}, {2, {19, 23}}, {3, {12, 48, 19, 23}}, {7, {12, 48, 19, 23}}};
    for (const Case& c : cases) {
        Rig rig;
        rig.midi->SetKeyBoardBlock(c.block);
        rig.start();
        for (int code : {scan::Z, scan::Digit1, scan::Keypad0, scan::KeypadEnter}) {
            rig.press(code);
            rig.release(code);
        }
        QCOMPARE(rig.played, c.expected);
        // The space bar mutes even with block 0.
        rig.service.clear();
        rig.press(scan::Space);
        QCOMPARE(rig.service.messages.size(), std::size_t(65));
    }
}

void EngineTest::spaceBarMutesOnPressAndRelease()
{
    for (const PropertyBag& bag : {LowerKeyboardSettings(), UpperKeyboardSettings()}) {
        Rig rig(bag);
        rig.start();
        const int channel = rig.midi->Channel();
        rig.press(scan::Space);
        QCOMPARE(rig.bytes(), noteOffs(channel, 36, 100));
        rig.service.clear();
        rig.release(scan::Space);
        QCOMPARE(rig.bytes(), noteOffs(channel, 36, 100));
        QVERIFY(rig.played.empty());
    }
}

void EngineTest::playClampsAndReleasesAfterItsTicks()
{
    Rig rig;
    rig.start();
    QVERIFY(!rig.midi->releaseTimerActive());
    rig.midi->Play(70, 5);
    QCOMPARE(rig.played, std::vector<int>{64});
    QCOMPARE(rig.bytes(), std::string("90 64 7F"));
    QVERIFY(rig.midi->releaseTimerActive());
    QVERIFY(rig.midi->mouseUp());
    for (int tick = 1; tick <= 4; ++tick) {
        rig.midi->releaseTick();
        QCOMPARE(rig.midi->keyColor(64), QColor(250, 210, 0));
        QVERIFY(rig.midi->releaseTimerActive());
    }
    rig.midi->releaseTick();  // the fifth
    QCOMPARE(rig.midi->keyColor(64), restWhite());
    QCOMPARE(rig.midi->playTimes(64), std::int16_t(-1));
    QVERIFY(!rig.midi->releaseTimerActive());  // nothing left counting

    // A negative time releases at the next tick; so do 0 and 1. Black keys
    // return to black.
    rig.midi->Play(3, -2);
    rig.midi->Play(-9, 0);
    rig.midi->Play(6, 1);
    QCOMPARE(rig.played, (std::vector<int>{64, 3, 0, 6}));
    QCOMPARE(rig.midi->keyColor(3), QColor(0, 180, 230));
    rig.midi->releaseTick();
    QCOMPARE(rig.midi->keyColor(3), QColor(0, 0, 0));
    QCOMPARE(rig.midi->keyColor(6), QColor(0, 0, 0));
    QCOMPARE(rig.midi->keyColor(0), restWhite());
    QVERIFY(!rig.midi->releaseTimerActive());
    // The note itself still ends by its countdown.
    QCOMPARE(rig.midi->noteTimes(3), std::int16_t(10));
}

void EngineTest::settersClampAndOnlyInstrumentSends()
{
    Rig rig;
    // Before the start the port is not open: the program waits for StartMIDi.
    rig.midi->SetInstrument(5);
    QVERIFY(rig.service.attempts.empty());
    rig.midi->StartMIDi();
    QCOMPARE(rig.bytes(), std::string("B0 00 00,C0 05 00"));
    rig.service.clear();
    rig.midi->SetPitch(70);
    QCOMPARE(rig.midi->Pitch(), std::int16_t(63));
    rig.midi->SetPitch(-4);
    QCOMPARE(rig.midi->Pitch(), std::int16_t(0));
    rig.midi->SetChannel(-3);
    QCOMPARE(rig.midi->Channel(), std::int16_t(0));
    rig.midi->SetChannel(16);
    QCOMPARE(rig.midi->Channel(), std::int16_t(15));
    rig.midi->SetIntensity(200);
    QCOMPARE(rig.midi->Intensity(), std::int16_t(127));
    rig.midi->SetTone(12);
    QCOMPARE(rig.midi->Tone(), 11);
    rig.midi->SetTone(-1LL << 40);
    QCOMPARE(rig.midi->Tone(), 0);
    rig.midi->SetKeyBoardBlock(9);
    QCOMPARE(rig.midi->KeyBoardBlock(), 3);
    rig.midi->SetKeyBoardBlock(-1);
    QCOMPARE(rig.midi->KeyBoardBlock(), 0);
    rig.midi->SetSilencer(true);
    rig.midi->SetLogo(false);
    QCOMPARE(rig.bytes(), std::string());

    rig.midi->SetChannel(0);
    rig.midi->SetInstrument(200);
    QCOMPARE(rig.midi->Instrument(), std::int16_t(127));
    QCOMPARE(rig.bytes(), std::string("B0 00 00,C0 7F 00"));
    rig.service.clear();
    rig.midi->SetChannel(2);
    rig.midi->SetInstrument(-5);
    QCOMPARE(rig.midi->Instrument(), std::int16_t(0));
    QCOMPARE(rig.bytes(), std::string("B2 00 00,C2 00 00"));

    // Into a closed port the value is still kept; the program change is
    // tried and fails quietly.
    rig.port.CloseMidiOut();
    rig.service.clear();
    rig.midi->SetInstrument(40);
    QCOMPARE(rig.midi->Instrument(), std::int16_t(40));
    QCOMPARE(rig.service.attempts.size(), std::size_t(2));
    QVERIFY(rig.service.messages.empty());
}

void EngineTest::mlongNegativeRefusedZeroStopsCountdown()
{
    Rig rig(PropertyBag(), true);
    QVERIFY(rig.midi->countdownTimerActive());
    rig.midi->SetMlong(-50);
    QCOMPARE(rig.midi->Mlong(), std::int16_t(100));
    QVERIFY(rig.midi->countdownTimerActive());
    rig.midi->SetMlong(250);
    QCOMPARE(rig.midi->Mlong(), std::int16_t(250));
    rig.midi->SetMlong(0);
    QCOMPARE(rig.midi->Mlong(), std::int16_t(0));
    QVERIFY(!rig.midi->countdownTimerActive());
    rig.midi->SetMlong(100);
    QVERIFY(rig.midi->countdownTimerActive());

    // Designer mode: the countdown was never switched on, so a length alone
    // does not start it.
    Rig designer;
    designer.midi->SetMlong(80);
    QVERIFY(!designer.midi->countdownTimerActive());
}

void EngineTest::enabledReachesThePollOnlyWhileStarted()
{
    Rig rig;
    rig.midi->SetEnabled(false);
    rig.midi->SetEnabled(true);
    QVERIFY(!rig.midi->pollTimerActive());
    rig.midi->SetEnabled(false);
    rig.start();  // enables the control itself
    QVERIFY(rig.midi->Enabled());
    QVERIFY(rig.midi->pollTimerActive());

    rig.midi->SetEnabled(false);
    QVERIFY(!rig.midi->Enabled());
    QVERIFY(!rig.midi->isEnabled());
    QVERIFY(!rig.midi->pollTimerActive());
    rig.midi->Play(5, 1);  // the host can still play
    QCOMPARE(rig.played, std::vector<int>{5});
    rig.midi->SetEnabled(true);
    QVERIFY(rig.midi->pollTimerActive());

    // After the stop the released keyboard is left alone.
    rig.midi->StopMIDi();
    QVERIFY(!rig.midi->started());
    QVERIFY(!rig.midi->pollTimerActive());
    QVERIFY(!rig.keys->acquired());
    rig.midi->SetEnabled(true);
    QVERIFY(!rig.midi->pollTimerActive());
    rig.keys->setKey(scan::Z, true);
    rig.midi->pollTick();
    QCOMPARE(rig.played, std::vector<int>{5});
}

void EngineTest::pollRunsOnEveryChangeAndOnlyThen()
{
    // Nobody calls the poll here: the keyboard's own reports run it.
    Rig rig;
    rig.start();
    QCoreApplication::processEvents();
    rig.keys->setKey(scan::Z, true);
    QCOMPARE(rig.played, std::vector<int>{});  // after the event that made the change
    QCoreApplication::processEvents();
    QCOMPARE(rig.played, std::vector<int>{12});

    // A change that comes in while a strike is handled is not lost: the
    // poll that runs right after it picks it up.
    bool once = false;
    QObject::connect(rig.midi.get(), &MIDi::NotePlayed, rig.midi.get(), [&](std::int16_t) {
        if (!once) {
            once = true;
            rig.keys->setKey(scan::X, true);
        }
    });
    rig.keys->setKey(scan::A, true);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(rig.played, (std::vector<int>{12, 24, 14}));

    // The mouse button is seen too: striking the key struck last again
    // needs a poll that saw the button up.
    rig.keys->setLeftButton(true);
    QCoreApplication::processEvents();
    QVERIFY(!rig.midi->mouseUp());
    rig.keys->setLeftButton(false);
    QCoreApplication::processEvents();
    QVERIFY(rig.midi->mouseUp());

    // Keys pressed while the poll was off are found when it comes back.
    rig.midi->SetEnabled(false);
    rig.keys->setKey(scan::Q, true);
    QCoreApplication::processEvents();
    QCOMPARE(rig.played.size(), std::size_t(3));
    rig.midi->SetEnabled(true);
    QCoreApplication::processEvents();
    QCOMPARE(rig.played, (std::vector<int>{12, 24, 14, 36}));
}

void EngineTest::stopClosesItsPortForBothKeyboards()
{
    Rig rig(LowerKeyboardSettings());
    rig.start();
    QVERIFY(rig.port.MidiOutHandle() != 0);
    {
        // On a port of its own, as an export's keyboards are: the window's
        // port is left alone.
        MidiOut own(&rig.service);
        MIDi idle(std::make_unique<KeyboardDevice>());
        idle.setPort(&own);
        idle.LoadSettings(UpperKeyboardSettings(), true);
    }
    QVERIFY(rig.port.MidiOutHandle() != 0);
    {
        MIDi other(std::make_unique<KeyboardDevice>());
        other.setPort(&rig.port);
        other.StartMIDi();  // re-opens the shared port
    }  // destroyed: StopMIDi closes it for both
    QCOMPARE(rig.port.MidiOutHandle(), 0u);
}

void EngineTest::keyboardsOnOneChannelEndEachOthersNotes()
{
    // One receiver hears one note 48 on the channel, whichever keyboard
    // struck it: the other's idle countdown ends it, and once only.
    Rig rig(LowerKeyboardSettings());
    MIDi other(std::make_unique<KeyboardDevice>());
    other.setPort(&rig.port);
    other.LoadSettings(LowerKeyboardSettings(), false);
    rig.start();
    rig.press(scan::Z);
    QCOMPARE(rig.bytes(), std::string("90 30 7F"));
    other.countdownTick();
    QCOMPARE(rig.count(0x80, 0x30, 0), 1);
    for (int tick = 0; tick <= 11; ++tick) {
        rig.midi->countdownTick();
        other.countdownTick();
    }
    QCOMPARE(rig.count(0x80, 0x30, 0), 1);
    QCOMPARE(rig.service.messages.size(), std::size_t(2));
}

void EngineTest::notePlayedComesBeforeTheNoteOn()
{
    Rig rig(LowerKeyboardSettings());
    rig.start();
    rig.press(scan::Z);
    QCOMPARE(rig.sentBeforeEvent, std::vector<std::size_t>{0});  // not even the silencer's note-off yet

    // A host that names another key gets that key played.
    rig.midi->keyToSound = [](int) { return 40; };
    rig.service.clear();
    rig.midi->Play(20, 1);
    QCOMPARE(rig.bytes(), std::string("80 30 00,90 4C 7F"));
    QCOMPARE(rig.midi->currentKey(), std::int16_t(40));
}

void EngineTest::nestedPollDoesNotStrikeTwice()
{
    // A handler of a strike that polls again must not have the changes the
    // poll under way has not reached handled twice.
    Rig rig;
    rig.start();
    QObject::connect(rig.midi.get(), &MIDi::NotePlayed, rig.midi.get(), [&rig](std::int16_t) { rig.midi->pollTick(); });
    rig.keys->setKey(scan::Z, true);
    rig.keys->setKey(scan::X, true);
    rig.midi->pollTick();
    QCOMPARE(rig.played, (std::vector<int>{12, 14}));
    rig.midi->pollTick();
    QCOMPARE(rig.played, (std::vector<int>{12, 14}));
    QCOMPARE(rig.count(0x90, 0x30, 0x7F), 1);

    // Stopped by a handler of a strike: the poll ends there.
    Rig stopping;
    stopping.start();
    QObject::connect(stopping.midi.get(), &MIDi::NotePlayed, stopping.midi.get(),
                     [&stopping](std::int16_t) { stopping.midi->StopMIDi(); });
    stopping.keys->setKey(scan::Z, true);
    stopping.keys->setKey(scan::X, true);
    stopping.midi->pollTick();
    QCOMPARE(stopping.played, std::vector<int>{12});
}

void EngineTest::keyboardChangeWakesThePoll()
{
    Rig rig(LowerKeyboardSettings());
    rig.start();
    rig.keys->setKey(scan::Z, true);
    QCoreApplication::processEvents();  // no poll tick called: the change itself wakes it
    QCOMPARE(rig.played, std::vector<int>{12});

    rig.midi->SetEnabled(false);
    rig.keys->setKey(scan::X, true);
    QCoreApplication::processEvents();
    QCOMPARE(rig.played, std::vector<int>{12});
}

void EngineTest::loadedOutOfRangeValuesSendNothingBroken()
{
    // Saved values are used unclamped; the ones that would change the kind
    // of message (a channel above 15, a negative note) send nothing.
    PropertyBag bag;
    bag.write("Channel", 20, 0);
    Rig wide(bag);
    wide.start();
    wide.midi->Play(0, 1);
    wide.midi->countdownTick();
    wide.midi->Mute();
    QVERIFY(wide.service.attempts.empty());
    QCOMPARE(wide.played, std::vector<int>{0});
    // The same key on a channel that exists does sound: the port is open.
    wide.midi->SetChannel(3);
    wide.midi->Play(0, 1);
    QCOMPARE(wide.bytes(), std::string("93 24 7F"));

    PropertyBag low;
    low.write("Pitch", -40, 36);
    Rig below(low);
    below.start();
    below.midi->Play(50, 1);  // note 10
    below.midi->Play(2, 1);   // note -38: nothing
    QCOMPARE(below.bytes(), std::string("90 0A 7F"));
}

void EngineTest::heldKeysAndThePedalOutlastTheCountdown()
{
    Rig rig(LowerKeyboardSettings());
    rig.midi->StartMIDi();
    rig.midi->SetSilencer(false);
    rig.midi->setHoldMode(true);
    rig.midi->setKeyLayout(keymap::Layout::Piano);
    rig.service.clear();

    // S is C# on the piano map; held, the countdown leaves it alone.
    rig.press(31);
    QCOMPARE(rig.played, std::vector<int>{13});
    for (int tick = 0; tick < 30; ++tick)
        rig.midi->countdownTick();
    QCOMPARE(rig.count(0x80, 36 + 13, 0), 0);
    rig.release(31);  // the release ends it
    QCOMPARE(rig.count(0x80, 36 + 13, 0), 1);

    // A song's keys keep the countdown in hold mode.
    rig.service.clear();
    rig.midi->Play(20, 1);
    for (int tick = 0; tick < 11; ++tick)
        rig.midi->countdownTick();
    QCOMPARE(rig.count(0x80, 36 + 20, 0), 1);

    // Left Shift is the pedal: while it is down released keys and counted-out
    // notes keep sounding; up, the next tick ends them.
    rig.service.clear();
    rig.press(keymap::kMainPedalScanCode);
    QCOMPARE(rig.bytes(), std::string("B0 40 7F"));
    rig.press(31);
    rig.release(31);
    rig.midi->Play(20, 1);
    for (int tick = 0; tick < 30; ++tick)
        rig.midi->countdownTick();
    QCOMPARE(rig.count(0x80, 36 + 13, 0), 0);
    QCOMPARE(rig.count(0x80, 36 + 20, 0), 0);
    rig.release(keymap::kMainPedalScanCode);
    rig.midi->countdownTick();
    QVERIFY(rig.count(0x80, 36 + 13, 0) >= 1);
    QVERIFY(rig.count(0x80, 36 + 20, 0) >= 1);
    QVERIFY(rig.bytes().find("B0 40 00") != std::string::npos);
}

QTEST_MAIN(EngineTest)
#include "test_engine.moc"
