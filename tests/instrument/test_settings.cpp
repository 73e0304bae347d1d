// The saved settings: the named-value store, loading in order with defaults
// and without clamping, saving without defaults, and the two keyboards the
// window creates.
#include "instrument/keyboardview.h"
#include "instrument/usercontrol1.h"
#include "rig.h"

#include <QTest>

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void bagLeavesOutDefaultsAndIgnoresCase();
    void saveWritesOnlyChangedValuesInOrder();
    void loadRoundTripsAndUsesValuesUnclamped();
    void loadWithoutValuesGivesDefaults();
    void loadAtRunTimeStartsTheTimersAndArmsTheKeys();
    void windowKeyboardsCarryTheirSettings();
};

void SettingsTest::bagLeavesOutDefaultsAndIgnoresCase()
{
    PropertyBag bag;
    bag.write("Pitch", 36, 36);
    QVERIFY(!bag.contains("Pitch"));
    QCOMPARE(bag.read("pitch", 36).toInt(), 36);

    bag.write("Pitch", 40, 36);
    QCOMPARE(bag.read("PITCH", 36).toInt(), 40);
    bag.write("pItCh", 41, 36);  // the same name
    QCOMPARE(bag.size(), 1);
    QCOMPARE(bag.read("Pitch", 36).toInt(), 41);
    bag.write("Pitch", 36, 36);  // back to the default: no longer stored
    QCOMPARE(bag.size(), 0);

    // Booleans are kept as -1 and 0 and read back as Booleans.
    bag.write("Silencer", true, false);
    bag.write("Logo", false, true);
    bag.write("Enabled", true, true);
    QCOMPARE(bag.names(), QStringList({"Silencer", "Logo"}));
    QCOMPARE(bag.read("silencer", 0).toInt(), -1);
    QCOMPARE(bag.read("LOGO", 1).toInt(), 0);
    QCOMPARE(bag.read("Silencer", false), QVariant(true));
    QCOMPARE(bag.read("Logo", true), QVariant(false));
    QCOMPARE(bag.read("Missing", true), QVariant(true));
}

void SettingsTest::saveWritesOnlyChangedValuesInOrder()
{
    Rig fresh;
    PropertyBag none;
    fresh.midi->SaveSettings(none);
    QCOMPARE(none.size(), 0);

    Rig rig;
    rig.midi->SetKeyBoardBlock(3);  // a default stays out
    rig.midi->SetIntensity(90);
    rig.midi->SetPitch(40);
    rig.midi->SetInstrument(12);
    rig.midi->SetTone(2);
    rig.midi->SetChannel(1);
    rig.midi->SetLogo(false);
    rig.midi->SetMlong(150);
    rig.midi->SetSilencer(true);
    rig.midi->SetEnabled(false);
    PropertyBag bag;
    rig.midi->SaveSettings(bag);
    QCOMPARE(bag.names(), QStringList({"Enabled", "Silencer", "Mlong", "Logo", "Channel", "Tone", "Instrument",
                                       "Pitch", "Intensity"}));
    QCOMPARE(bag.read("Enabled", 1).toInt(), 0);
    QCOMPARE(bag.read("Silencer", 0).toInt(), -1);
    QCOMPARE(bag.read("Mlong", 100).toInt(), 150);
    QCOMPARE(bag.read("Intensity", 127).toInt(), 90);
}

void SettingsTest::loadRoundTripsAndUsesValuesUnclamped()
{
    Rig source;
    source.midi->SetSilencer(true);
    source.midi->SetMlong(70);
    source.midi->SetChannel(9);
    source.midi->SetTone(4);
    source.midi->SetInstrument(33);
    source.midi->SetPitch(24);
    source.midi->SetIntensity(64);
    source.midi->SetKeyBoardBlock(2);
    source.midi->SetLogo(false);
    PropertyBag bag;
    source.midi->SaveSettings(bag);

    Rig copy(bag);
    QCOMPARE(copy.midi->Silencer(), true);
    QCOMPARE(copy.midi->Mlong(), std::int16_t(70));
    QCOMPARE(copy.midi->Channel(), std::int16_t(9));
    QCOMPARE(copy.midi->Tone(), 4);
    QCOMPARE(copy.midi->Instrument(), std::int16_t(33));
    QCOMPARE(copy.midi->Pitch(), std::int16_t(24));
    QCOMPARE(copy.midi->Intensity(), std::int16_t(64));
    QCOMPARE(copy.midi->KeyBoardBlock(), 2);
    QCOMPARE(copy.midi->Logo(), false);
    QVERIFY(copy.midi->keyboardView()->strip()->isHidden());

    // Loaded values are not clamped, and loading sends nothing.
    PropertyBag wild;
    wild.write("pitch", 70, 36);
    wild.write("TONE", 20, 0);
    wild.write("KeyBoardBlock", 5, 3);
    wild.write("Instrument", 200, 0);
    wild.write("Mlong", -5, 100);  // refused: the step length stays
    Rig loaded(wild);
    QCOMPARE(loaded.midi->Pitch(), std::int16_t(70));
    QCOMPARE(loaded.midi->Tone(), 20);
    QCOMPARE(loaded.midi->KeyBoardBlock(), 5);
    QCOMPARE(loaded.midi->Instrument(), std::int16_t(200));
    QCOMPARE(loaded.midi->Mlong(), std::int16_t(100));
    QVERIFY(loaded.service.attempts.empty());
    // The start re-sends the program through the setter, which clamps it.
    loaded.midi->StartMIDi();
    QCOMPARE(loaded.bytes(), std::string("B0 00 00,C0 7F 00"));
    QCOMPARE(loaded.midi->Instrument(), std::int16_t(127));
    loaded.service.clear();
    loaded.midi->Play(0, 1);
    QCOMPARE(loaded.bytes(), std::string("90 5A 7F"));  // 0 + 70 + 20
    loaded.press(scan::Z);  // block 5 answers no block
    QCOMPARE(loaded.played, std::vector<int>{0});

    // A value too wide for its setting keeps the default.
    PropertyBag tooWide;
    tooWide.write("Pitch", 70000, 36);
    Rig narrow(tooWide);
    QCOMPARE(narrow.midi->Pitch(), std::int16_t(36));
}

void SettingsTest::loadWithoutValuesGivesDefaults()
{
    Rig rig;
    QCOMPARE(rig.midi->Pitch(), std::int16_t(36));
    QCOMPARE(rig.midi->Intensity(), std::int16_t(127));
    QCOMPARE(rig.midi->KeyBoardBlock(), 3);
    QCOMPARE(rig.midi->Logo(), true);
    QCOMPARE(rig.midi->Enabled(), true);
    QCOMPARE(rig.midi->Mlong(), std::int16_t(100));
    QCOMPARE(rig.midi->Channel(), std::int16_t(0));
    QCOMPARE(rig.midi->Instrument(), std::int16_t(0));
    QCOMPARE(rig.midi->Tone(), 0);
    QCOMPARE(rig.midi->Silencer(), false);

    // A saved "Enabled" of False disables the control but not a poll.
    PropertyBag off;
    off.write("Enabled", false, true);
    Rig disabled(off);
    QVERIFY(!disabled.midi->Enabled());
}

void SettingsTest::loadAtRunTimeStartsTheTimersAndArmsTheKeys()
{
    Rig designer;
    QVERIFY(!designer.midi->releaseTimerActive());
    QVERIFY(!designer.midi->countdownTimerActive());
    QVERIFY(designer.midi->keyboardView()->mousePlayEnabled());

    Rig running(LowerKeyboardSettings(), true);
    QVERIFY(running.midi->releaseTimerActive());
    QVERIFY(running.midi->countdownTimerActive());
    QVERIFY(!running.midi->pollTimerActive());
    for (int k = 0; k < 65; ++k)
        QCOMPARE(running.midi->playTimes(k), std::int16_t(-1));
    // Timer3 finds nothing counting and stops itself without touching a key.
    running.midi->releaseTick();
    QVERIFY(!running.midi->releaseTimerActive());

    PropertyBag still;
    still.write("Mlong", 0, 100);
    Rig silent(still, true);
    QVERIFY(!silent.midi->countdownTimerActive());

    // An unarmed keyboard (never loaded) ignores the mouse.
    MIDi bare(std::make_unique<KeyboardDevice>());
    QVERIFY(!bare.keyboardView()->mousePlayEnabled());
}

void SettingsTest::windowKeyboardsCarryTheirSettings()
{
    const PropertyBag lowerBag = LowerKeyboardSettings();
    QCOMPARE(lowerBag.names(), QStringList({"Silencer", "KeyBoardBlock"}));
    Rig lower(lowerBag);
    QCOMPARE(lower.midi->Silencer(), true);
    QCOMPARE(lower.midi->KeyBoardBlock(), 1);
    QCOMPARE(lower.midi->Logo(), true);
    QCOMPARE(lower.midi->Channel(), std::int16_t(0));

    const PropertyBag upperBag = UpperKeyboardSettings();
    QCOMPARE(upperBag.names(), QStringList({"Silencer", "Logo", "Channel", "Instrument", "KeyBoardBlock"}));
    Rig upper(upperBag);
    QCOMPARE(upper.midi->Silencer(), true);
    QCOMPARE(upper.midi->Logo(), false);
    QCOMPARE(upper.midi->Channel(), std::int16_t(1));
    QCOMPARE(upper.midi->Instrument(), std::int16_t(12));
    QCOMPARE(upper.midi->KeyBoardBlock(), 2);
    QCOMPARE(upper.midi->Pitch(), std::int16_t(36));
    QCOMPARE(upper.midi->Mlong(), std::int16_t(100));

    // Saving what was loaded gives the same bag back.
    PropertyBag saved;
    upper.midi->SaveSettings(saved);
    QCOMPARE(saved.names(), QStringList({"Silencer", "Logo", "Channel", "Instrument", "KeyBoardBlock"}));
    QCOMPARE(saved.read("Instrument", 0).toInt(), 12);
}

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"
