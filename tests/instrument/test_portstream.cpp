// What a system MIDI port receives from the two keyboards over a session of
// strikes, the silencer, countdowns run out after Pitch and Tone changed,
// Mute, hold, the pedal and a song's keys: byte for byte the stream kept in
// tests/data/port_session.txt, which is what a port received when every
// idle key's countdown note-off went out and the port left out the ones
// for notes it had not sounded.
#include "rig.h"

#include <QFile>
#include <QTest>

namespace {

void ticks(MIDi& a, MIDi& b, int n)
{
    for (int i = 0; i < n; ++i) {
        a.countdownTick();
        b.countdownTick();
    }
}

}  // namespace

class PortStreamTest : public QObject {
    Q_OBJECT
private slots:
    void portReceivesTheSameStreamAsBefore();
};

void PortStreamTest::portReceivesTheSameStreamAsBefore()
{
    RecordingService port;
    MidiOut out(&port);
    auto lowerKeys = std::make_unique<KeyboardDevice>();
    auto upperKeys = std::make_unique<KeyboardDevice>();
    KeyboardDevice* lk = lowerKeys.get();
    KeyboardDevice* uk = upperKeys.get();
    {
        MIDi lower(std::move(lowerKeys));
        MIDi upper(std::move(upperKeys));
        lower.setPort(&out);
        upper.setPort(&out);
        lower.LoadSettings(LowerKeyboardSettings(), false);
        upper.LoadSettings(UpperKeyboardSettings(), false);
        lower.StartMIDi();
        upper.StartMIDi();
        const auto key = [](KeyboardDevice* k, MIDi& m, int code, bool down) {
            k->setKey(code, down);
            m.pollTick();
        };

        // The silencer's first strike, a second strike, the same key again.
        key(lk, lower, scan::Z, true);
        key(lk, lower, scan::Z, false);
        key(lk, lower, scan::X, true);
        key(lk, lower, scan::X, false);
        ticks(lower, upper, 3);
        key(lk, lower, scan::X, true);
        key(lk, lower, scan::X, false);
        key(uk, upper, scan::Keypad0, true);
        key(uk, upper, scan::Keypad0, false);
        key(uk, upper, scan::Left, true);
        ticks(lower, upper, 2);
        key(uk, upper, scan::Keypad0, true);
        key(uk, upper, scan::Keypad0, false);
        key(uk, upper, scan::Left, false);
        // Pitch moved under a sounding note: an idle key now names it, and
        // its own key runs out on a note that never sounded.
        lower.SetPitch(38);
        ticks(lower, upper, 1);
        lower.SetTone(2);
        upper.SetTone(3);
        ticks(lower, upper, 12);
        lower.SetPitch(36);
        lower.SetTone(0);
        upper.SetTone(0);
        ticks(lower, upper, 12);

        // Mute and the space bar while notes sound.
        key(lk, lower, scan::A, true);
        key(uk, upper, scan::Pause, true);
        lower.Mute();
        key(uk, upper, scan::Space, true);
        key(uk, upper, scan::Space, false);
        key(lk, lower, scan::A, false);
        key(uk, upper, scan::Pause, false);
        ticks(lower, upper, 12);

        // Hold on the upper keyboard, the pedal on the lower one.
        upper.setHoldMode(true);
        key(uk, upper, scan::Keypad0, true);
        ticks(lower, upper, 15);
        key(uk, upper, scan::Keypad0, false);
        upper.setHoldMode(false);
        lower.SetSilencer(false);
        key(lk, lower, keymap::kMainPedalScanCode, true);
        key(lk, lower, scan::Q, true);
        key(lk, lower, scan::Q, false);
        ticks(lower, upper, 13);
        key(lk, lower, keymap::kMainPedalScanCode, false);
        ticks(lower, upper, 2);

        // A song: counted keys, a held key, a silent one above 127.
        lower.SetSilencer(true);
        lower.Play(30, 3);
        upper.PlayHeld(31, 2);
        upper.Play(31, 1);
        lower.SetIntensity(0);
        lower.Play(40, 1);
        lower.SetIntensity(100);
        upper.SetPitch(63);
        upper.SetTone(11);
        upper.Play(64, 1);
        upper.SetPitch(36);
        upper.SetTone(0);
        for (int i = 0; i < 3; ++i) {
            lower.releaseTick();
            upper.releaseTick();
        }
        ticks(lower, upper, 12);
        upper.endHeld(31);
        lower.PlayLive(24, true, 64);
        lower.PlayLive(24, false);
        lower.SetInstrument(5);
        ticks(lower, upper, 12);
    }

    QString got = QString::fromStdString(port.bytes());
    got.replace(QLatin1Char(','), QLatin1Char('\n'));
    QFile golden(QStringLiteral(SONAREL_TEST_DATA "/port_session.txt"));
    QVERIFY(golden.open(QIODevice::ReadOnly));
    QCOMPARE(got, QString::fromLatin1(golden.readAll()).trimmed());
}

QTEST_MAIN(PortStreamTest)
#include "test_portstream.moc"
