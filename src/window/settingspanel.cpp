#include "window/settingspanel.h"

#include "instrument/instrument.h"
#include "songs/instrumentnames.h"
#include "songs/recorder.h"
#include "window/controls.h"
#include "window/look.h"
#include "instrument/twips.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace {

constexpr double kKnobTopMin = 360;
constexpr double kKnobTopMax = 1320;
constexpr double kTwipsPerOctave = 240;
constexpr double kTwipsPerVolumeStep = 7.5;
constexpr int kLongestNoteLength = 32767;  // what the countdown's timer holds

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

SettingsPanel::SettingsPanel(MIDi*& active, QObject* parent) : QObject(parent), ActiveMIDi(active) {}

void SettingsPanel::buildKnobs(QWidget* window)
{
    const QPixmap knob = look::LoadPicture(":/window/knob.png", QSize(11, 19), QColor(160, 160, 160));
    const struct { int index, left, top; const char* tip; } knobs[] = {
        {1, 8190, 600, "音高调节"}, {2, 8690, 360, "音量调节"}};
    for (const auto& k : knobs) {
        auto* widget = new Knob(k.index, window);
        widget->setObjectName(QStringLiteral("Picture4_%1").arg(k.index));
        widget->setPixmap(knob);
        widget->setGeometry(twips::ToPixels(k.left), twips::ToPixels(k.top), knob.width(), knob.height());
        widget->setTop(k.top);
        widget->setToolTip(QString::fromUtf8(k.tip));
        connect(widget, &Knob::mouseDown, this, &SettingsPanel::Picture4_MouseDown);
        connect(widget, &Knob::mouseMove, this, &SettingsPanel::Picture4_MouseMove);
        connect(widget, &Knob::mouseUp, this, [this](int index, double) { Picture4_MouseUp(index); });
        Picture4[std::size_t(k.index)] = widget;
    }
}

void SettingsPanel::buildFields(QWidget* window)
{
    Text3 = new QLineEdit(QStringLiteral("100"), window);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setGeometry(twips::Rect(7320, 2360, 735, 300));
    Text3->setMaxLength(4);
    Text3->setAlignment(Qt::AlignCenter);
    Text3->setFrame(false);
    // Only a click puts the caret here: typed keys play the keyboards, and a
    // box that took the focus by itself would swallow them as a note length.
    Text3->setFocusPolicy(Qt::ClickFocus);
    look::SetTextColor(Text3, look::kFieldText, look::kFieldBack);
    connect(Text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
    // The box keeps the keys while a length is typed; Enter, Tab, Esc or a
    // click elsewhere in the window give them back to the keyboards.
    connect(Text3, &QLineEdit::returnPressed, this, &SettingsPanel::giveKeysBack);
    qApp->installEventFilter(this);

    auto makeList = [&](const QString& name, int left, const char* const* entries, int count) {
        auto* list = new DropList(window);
        list->setObjectName(name);
        list->setGeometry(twips::Rect(left, 2360, 1335, 300));
        list->setEditable(false);
        list->setFocusPolicy(Qt::ClickFocus);
        for (int i = 0; i < count; ++i)
            list->addItem(QString::fromUtf8(entries[i]));
        list->setCurrentIndex(-1);  // no selection until the window first becomes active
        list->setMaxVisibleItems(16);
        look::SetTextColor(list, look::kFieldText, look::kFieldBack);
        list->setAttribute(Qt::WA_NoMousePropagation);
        connect(list, &DropList::closed, this, &SettingsPanel::giveKeysBack);
        return list;
    };
    ComDevies = makeList(QStringLiteral("ComDevies"), 8160, songs::kToneNames, songs::kToneCount);
    ComSounds = makeList(QStringLiteral("ComSounds"), 9600, songs::kInstrumentNames, songs::kInstrumentCount);
    // The user's choice runs Click even when it picks the entry already shown.
    connect(ComDevies, &QComboBox::activated, this, [this] { ComDevies_Click(); });
    connect(ComSounds, &QComboBox::activated, this, [this] { ComSounds_Click(); });
}

bool SettingsPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Text3 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            giveKeysBack();
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonPress && watched != Text3 && Text3 && Text3->hasFocus() &&
               watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == Text3->window()) {
        giveKeysBack();
    }
    return QObject::eventFilter(watched, event);
}

void SettingsPanel::giveKeysBack()
{
    if (focusAway)
        focusAway();
}

void SettingsPanel::write(songs::Tag tag, const QString& value)
{
    if (writeRecord)
        writeRecord(tag, value);
}

void SettingsPanel::setListIndex(QComboBox* list, int index)
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

void SettingsPanel::chooseFirstEntries()
{
    setListIndex(ComDevies, 0);
    setListIndex(ComSounds, 0);
}

void SettingsPanel::ComDevies_Click()
{
    if (ComDevies->currentIndex() >= 0)
        ActiveMIDi->SetTone(ComDevies->currentIndex());
    write(songs::Tag::Tone, numberText(ActiveMIDi->Tone()));
    giveKeysBack();
}

void SettingsPanel::ComSounds_Click()
{
    if (ComSounds->currentIndex() >= 0)
        ActiveMIDi->SetInstrument(ComSounds->currentIndex());
    write(songs::Tag::Instrument, numberText(ActiveMIDi->Instrument()));
    giveKeysBack();
}

void SettingsPanel::Text3_Change()
{
    if (!ActiveMIDi)
        return;
    // A note length below zero or beyond what the timer holds is refused:
    // the instrument keeps its note length and nothing is recorded.
    const double value = RoundHalfEven(leadingNumber(Text3->text()));
    if (value >= 0 && value <= kLongestNoteLength) {
        ActiveMIDi->SetMlong(int(value));
        write(songs::Tag::Mlong, numberText(ActiveMIDi->Mlong()));
    }
    // The focus stays while the user types: a length of several digits is
    // typed one change at a time, each applied and recorded.
}

void SettingsPanel::Picture4_MouseDown(int, double Y) { KnobDragY = Y; }

void SettingsPanel::Picture4_MouseUp(int) { KnobDragY = 0; }

void SettingsPanel::Picture4_MouseMove(int Index, double Y)
{
    // One counter serves both knobs: only every fifth move acts.
    if (++KnobMoves < 5)
        return;
    KnobMoves = 0;
    Knob* knob = Picture4[std::size_t(Index)];
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
void SettingsPanel::placePitchKnob() { Picture4[1]->setTop(kKnobTopMin + kTwipsPerOctave * (4 - ActiveMIDi->Pitch() / 12.0)); }

// Placed from the value asked for, not from what the instrument accepted.
void SettingsPanel::placeVolumeKnob(int value) { Picture4[2]->setTop((128 - value) * kTwipsPerVolumeStep + kKnobTopMin); }

void SettingsPanel::SetPitch(int Value)
{
    if (Value != ActiveMIDi->Pitch())
        ActiveMIDi->SetPitch(Value);
    placePitchKnob();
    write(songs::Tag::Pitch, numberText(ActiveMIDi->Pitch()));
}

void SettingsPanel::SetIntensity(int Value)
{
    ActiveMIDi->SetIntensity(Value);
    placeVolumeKnob(Value);
    write(songs::Tag::Intensity, numberText(ActiveMIDi->Intensity()));
}

void SettingsPanel::RefreshSilencer()
{
    if (showSilencer)
        showSilencer(ActiveMIDi->Silencer());
    write(songs::Tag::Silencer, QString::fromLatin1(songs::BoolText(ActiveMIDi->Silencer())));
}

void SettingsPanel::showDifferences(const MIDi& other)
{
    if (other.Instrument() != ActiveMIDi->Instrument())
        setListIndex(ComSounds, ActiveMIDi->Instrument());
    if (other.Intensity() != ActiveMIDi->Intensity())
        SetIntensity(ActiveMIDi->Intensity());
    if (other.Pitch() != ActiveMIDi->Pitch())
        SetPitch(ActiveMIDi->Pitch());
    if (other.Silencer() != ActiveMIDi->Silencer())
        RefreshSilencer();
    if (other.Tone() != ActiveMIDi->Tone())
        setListIndex(ComDevies, ActiveMIDi->Tone());
    if (other.Mlong() != ActiveMIDi->Mlong())
        Text3->setText(numberText(ActiveMIDi->Mlong()));
}

void SettingsPanel::showSetting(songs::Tag tag, std::int16_t value)
{
    switch (tag) {
    case songs::Tag::Tone:
        setListIndex(ComDevies, value);
        break;
    case songs::Tag::Intensity:
        placeVolumeKnob(value);
        break;
    case songs::Tag::Instrument:
        setListIndex(ComSounds, value);
        break;
    case songs::Tag::Mlong:
        Text3->setText(QString::number(value));
        break;
    case songs::Tag::Pitch:
        placePitchKnob();
        break;
    case songs::Tag::Silencer:
        if (showSilencer)
            showSilencer(ActiveMIDi->Silencer());
        break;
    case songs::Tag::End:
    case songs::Tag::Keyboard:
    case songs::Tag::Tempo:
    case songs::Tag::Meter:
        break;
    }
}
