// The settings panel and the handling of played keys: the panel always edits
// the instrument played last, and while recording every change is written.
#include "window/form2.h"

#include "instrument/midi.h"
#include "songs/recorder.h"
#include "window/buttons.h"
#include "window/controls.h"
#include "window/twips.h"

#include <QComboBox>
#include <QLineEdit>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kKnobTopMin = 360;
constexpr double kKnobTopMax = 1320;
constexpr double kTwipsPerOctave = 240;
constexpr double kTwipsPerVolumeStep = 7.5;

QString numberText(long long value) { return QString::fromStdString(songs::NumberText(value)); }

// The number at the start of a text, as a note length is typed: leading
// blanks, a sign, digits and a fraction; 0 when the text starts otherwise.
double leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        ++i;
    const auto digit = [&t](int at) { return at < t.size() && t[at] >= QLatin1Char('0') && t[at] <= QLatin1Char('9'); };
    while (digit(i))
        ++i;
    // One decimal point: what follows a second one is not part of the number.
    if (i < t.size() && t[i] == QLatin1Char('.'))
        for (++i; digit(i);)
            ++i;
    bool ok = false;
    const double value = t.left(i).toDouble(&ok);
    return ok ? value : 0.0;
}

}  // namespace

void Form2::writeSettingRecord(const char* tag, const QString& value)
{
    // Nothing is written while the title panel is still open: the scratch
    // file is not open again until its header has been written.
    if (!Recording || !recorder.isOpen())
        return;
    recorder.writeSettingRecord(tag, value.toStdString());
}

void Form2::moveFocusToClose()
{
    // Keeps typed keys out of the list or box just edited; before the window
    // is shown there is nowhere to move the focus, which is fine.
    if (isVisible())
        Com[0]->setFocus(Qt::OtherFocusReason);
}

void Form2::setListIndex(QComboBox* list, int index)
{
    {
        const QSignalBlocker block(list);
        list->setCurrentIndex(index);
    }
    if (list == ComDevies)
        ComDevies_Click();
    else if (list == ComSounds)
        ComSounds_Click();
}

void Form2::ComDevies_Click()
{
    if (ComDevies->currentIndex() >= 0)
        ActiveMIDi->SetTone(ComDevies->currentIndex());
    writeSettingRecord("@DiaZ", numberText(ActiveMIDi->Tone()));
    moveFocusToClose();
}

void Form2::ComSounds_Click()
{
    if (ComSounds->currentIndex() >= 0)
        ActiveMIDi->SetInstrument(ComSounds->currentIndex());
    writeSettingRecord("@YueQ", numberText(ActiveMIDi->Instrument()));
    moveFocusToClose();
}

void Form2::Text3_Change()
{
    if (!ActiveMIDi)
        return;
    // A note length below zero or beyond what the timer holds is refused:
    // the instrument keeps its note length and nothing is recorded.
    const double value = RoundHalfEven(leadingNumber(Text3->text()));
    if (value >= 0 && value <= 32767) {
        ActiveMIDi->SetMlong(int(value));
        writeSettingRecord("@YinC", numberText(ActiveMIDi->Mlong()));
    }
    // The focus stays while the user types: a length of several digits is
    // typed one change at a time, each applied and recorded.
}

void Form2::Picture4_MouseDown(int, double Y) { KnobDragY = Y; }

void Form2::Picture4_MouseUp(int) { KnobDragY = 0; }

void Form2::Picture4_MouseMove(int Index, double Y)
{
    // One counter serves both knobs: only every fifth move acts.
    if (++KnobMoves < 5)
        return;
    KnobMoves = 0;
    Knob* knob = Picture4[Index];
    const double t = std::clamp(RoundHalfEven(knob->top() + Y - KnobDragY), kKnobTopMin, kKnobTopMax);
    if (KnobDragY != 0)
        knob->setTop(t);
    // Also without a drag: hovering re-applies the knob's value.
    if (Index == 1) {
        const double p = RoundHalfEven(4 - (knob->top() - kKnobTopMin) / kTwipsPerOctave);
        SetPitch(int(12 * p));
    } else if (Index == 2) {
        KnobVolume = std::int16_t(RoundHalfEven(128 - (knob->top() - kKnobTopMin) / kTwipsPerVolumeStep));
        SetIntensity(KnobVolume);
    }
}

// The pitch knob shows the active instrument's pitch, an octave a band.
void Form2::placePitchKnob() { Picture4[1]->setTop(kKnobTopMin + kTwipsPerOctave * (4 - ActiveMIDi->Pitch() / 12.0)); }

// Placed from the value asked for, not from what the instrument accepted.
void Form2::placeVolumeKnob(int value) { Picture4[2]->setTop((128 - value) * kTwipsPerVolumeStep + kKnobTopMin); }

void Form2::paintSilencerFace() { Com[buttons::kSilencer]->paintFace(ActiveMIDi->Silencer() ? Image5 : Image4); }

void Form2::SetPitch(int Value)
{
    if (Value != ActiveMIDi->Pitch())
        ActiveMIDi->SetPitch(Value);
    placePitchKnob();
    writeSettingRecord("@YinG", numberText(ActiveMIDi->Pitch()));
}

void Form2::SetIntensity(int Value)
{
    ActiveMIDi->SetIntensity(Value);
    placeVolumeKnob(Value);
    writeSettingRecord("@YinL", numberText(ActiveMIDi->Intensity()));
}

void Form2::RefreshSilencer()
{
    paintSilencerFace();
    writeSettingRecord("@XiaY", ActiveMIDi->Silencer() ? QStringLiteral("True") : QStringLiteral("False"));
}

void Form2::NotePlayed(MIDi* reporter, std::int16_t& Note)
{
    // The key's records wait in memory until its note is out, so that the
    // note-on never waits for the disk. They are written, in their order,
    // as soon as the event loop comes back.
    if (Recording && recorder.isOpen() && !recorder.holding()) {
        recorder.holdWrites();
        QMetaObject::invokeMethod(this, &Form2::releaseRecords, Qt::QueuedConnection);
    }
    MIDi* other = reporter == MIDi1 ? MIDi2 : MIDi1;
    // A recording's first key switches too, so that it starts with "@TonD".
    const bool firstOfRecording = Recording && recorder.isOpen() && recorder.LastNoteRecord == -1;
    if (reporter->objectName() != ActiveMIDi->objectName() || firstOfRecording) {
        ActiveMIDi = reporter;
        writeSettingRecord("@TonD", reporter == MIDi1 ? QStringLiteral("1") : QStringLiteral("2"));
        // The panel still shows the instrument active before: push only what differs.
        if (other->Instrument() != ActiveMIDi->Instrument())
            setListIndex(ComSounds, ActiveMIDi->Instrument());
        if (other->Intensity() != ActiveMIDi->Intensity())
            SetIntensity(ActiveMIDi->Intensity());
        if (other->Pitch() != ActiveMIDi->Pitch())
            SetPitch(ActiveMIDi->Pitch());
        if (other->Silencer() != ActiveMIDi->Silencer())
            RefreshSilencer();
        if (other->Tone() != ActiveMIDi->Tone())
            setListIndex(ComDevies, ActiveMIDi->Tone());
        if (other->Mlong() != ActiveMIDi->Mlong())
            Text3->setText(numberText(ActiveMIDi->Mlong()));
    }
    RecordNote(Note);
}

void Form2::releaseRecords()
{
    // A record the file refused ends the recording, with its end marker.
    if (!recorder.releaseWrites() && Recording && recorder.isOpen())
        RecordCommand();
}

void Form2::MidiIn_Note(bool on, int channel, int note, int velocity)
{
    MIDi* target = channel == 0 ? MIDi1 : channel == 1 ? MIDi2 : ActiveMIDi;
    if (!target)
        return;
    const int key = note - target->Pitch() - target->Tone();
    if (key < 0 || key > 64)
        return;  // off the keys: nothing plays, as no typed key could strike it
    target->PlayLive(key, on, liveVelocity ? velocity : -1);
}

void Form2::setSoundState(SoundLamp::State state, const QString& why) { lamp_->setState(state, why); }

void Form2::PortReopened()
{
    MIDi2->SetInstrument(MIDi2->Instrument());
    MIDi1->SetInstrument(MIDi1->Instrument());
}
