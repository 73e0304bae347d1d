#include "instrument/instrument.h"

#include "instrument/keyboarddevice.h"
#include "instrument/keyboardview.h"
#include "instrument/keymap.h"
#include "instrument/propertybag.h"
#include "instrument/twips.h"
#include "instrument/usercontrol1.h"
#include "midi/midiout.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

// The pictures live in this static library; without an explicit reference
// the linker would leave them out of the program.
static void initInstrumentResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(instrument);
        return true;
    }();
    (void)done;
}

namespace {

using keys::kLastKey;
constexpr int kReleaseIntervalMs = 10;
constexpr int kDefaultMlong = 100;
constexpr int kLargestMlong = std::numeric_limits<std::int16_t>::max();
// Countdown ticks a struck note sounds for; the note-off goes out at the tick
// after the count reaches 0, so a note lasts ten to eleven ticks.
constexpr std::int16_t kNoteCountdown = 10;
constexpr std::int16_t kPlayIdle = -1;
constexpr int kKeyBoardBlockNone = 0;
constexpr int kKeyBoardBlockMain = 1;
constexpr int kKeyBoardBlockRightHand = 2;
constexpr int kKeyBoardBlockBoth = 3;
constexpr int kMaxWidthTwips = 10380;
constexpr int kMaxHeightTwips = 1100;
// The control as first placed, before the size limit takes over.
constexpr int kDesignWidthTwips = 10605;
constexpr int kDesignHeightTwips = 1275;

const QColor kStruckWhite(250, 210, 0);
const QColor kStruckBlack(0, 180, 230);
const QColor kRestBlack(0, 0, 0);
constexpr QPalette::ColorRole kRestWhite = QPalette::Base;  // the desktop's window-background colour

constexpr int kLowestChannel = 0, kHighestChannel = 15;
constexpr int kLowestDataByte = 0, kHighestDataByte = 127;

template <typename T>
bool fits(long long v)
{
    return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
}

// Key k's note: k + Pitch in 16 bits, + Tone in 32 bits, narrowed to 16 bits.
// A sum that leaves its width yields no note rather than a wrapped one.
std::optional<std::int16_t> noteOf(int k, std::int16_t pitch, std::int32_t tone)
{
    const long long withPitch = (long long)k + pitch;
    if (!fits<std::int16_t>(withPitch))
        return std::nullopt;
    const long long withTone = withPitch + tone;
    if (!fits<std::int32_t>(withTone) || !fits<std::int16_t>(withTone))
        return std::nullopt;
    return std::int16_t(withTone);
}

// Loaded values are used as they are, but only if they fit the setting's
// width; one that does not keeps the default.
template <typename T>
T readNumber(const PropertyBag& bag, const char* name, T defaultValue)
{
    bool ok = false;
    const long long v = bag.read(QString::fromLatin1(name), QVariant::fromValue<qlonglong>(defaultValue)).toLongLong(&ok);
    return ok && fits<T>(v) ? T(v) : defaultValue;
}

bool readBool(const PropertyBag& bag, const char* name, bool defaultValue)
{
    return bag.read(QString::fromLatin1(name), defaultValue).toBool();
}

}  // namespace

MIDi::MIDi(QWidget* parent) : MIDi(nullptr, parent) {}

MIDi::MIDi(std::unique_ptr<KeyboardDevice> device, QWidget* parent) : QWidget(parent), device_(std::move(device))
{
    initInstrumentResources();
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMaximumSize(twips::ToPixels(kMaxWidthTwips), twips::ToPixels(kMaxHeightTwips));
    resize(twips::ToPixels(kDesignWidthTwips), twips::ToPixels(kDesignHeightTwips));

    view_ = new KeyboardView(this);
    view_->setObjectName(QStringLiteral("Pict"));
    view_->move(0, 0);
    connect(view_, &KeyboardView::dragOver, this, &MIDi::dragOver);
    connect(view_, &KeyboardView::dragDropped, this, &MIDi::dragDrop);

    Timer3.setInterval(kReleaseIntervalMs);
    Timer3.setTimerType(Qt::PreciseTimer);
    Timer4.setSingleShot(true);
    Timer4.setTimerType(Qt::PreciseTimer);
    connect(&Timer3, &QTimer::timeout, this, &MIDi::releaseTick);
    connect(&Timer4, &QTimer::timeout, this, [this] {
        armCountdown();
        countdownTick();
    });

    // Idle from the start, so a Play before the settings are loaded releases
    // only its own key.
    PlayTimes.fill(kPlayIdle);

    if (device_)
        adoptDevice();
}

MIDi::~MIDi()
{
    // The keys outlive this body by a moment; nothing they report may reach
    // a control whose members are gone.
    disconnect(view_, nullptr, this, nullptr);
    StopMIDi();
}

QSize MIDi::sizeHint() const { return maximumSize(); }

void MIDi::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), Qt::black);
}

// ---- Saved settings ------------------------------------------------------

void MIDi::LoadSettings(const PropertyBag& bag, bool runtime)
{
    silencer_ = readBool(bag, "Silencer", false);
    QWidget::setEnabled(readBool(bag, "Enabled", true));  // the poll is not touched here
    const auto mlong = readNumber<std::int32_t>(bag, "Mlong", kDefaultMlong);
    applyMlong(mlong);
    SetLogo(readBool(bag, "Logo", true));
    // Stored as they are: no clamping, and the program goes out at StartMIDi.
    channel_ = readNumber<std::int16_t>(bag, "Channel", 0);
    tone_ = readNumber<std::int32_t>(bag, "Tone", 0);
    instrument_ = readNumber<std::int16_t>(bag, "Instrument", 0);
    pitch_ = readNumber<std::int16_t>(bag, "Pitch", 36);
    intensity_ = readNumber<std::int16_t>(bag, "Intensity", 127);
    keyBoardBlock_ = readNumber<std::int32_t>(bag, "KeyBoardBlock", kKeyBoardBlockBoth);

    PlayTimes.fill(kPlayIdle);
    view_->setMousePlayEnabled(true);

    if (runtime) {
        Timer3.start();
        countdownEnabled_ = true;
        updateCountdownTimer();
    }
}

void MIDi::SaveSettings(PropertyBag& bag) const
{
    bag.write(QStringLiteral("Enabled"), Enabled(), true);
    bag.write(QStringLiteral("Silencer"), silencer_, false);
    bag.write(QStringLiteral("Mlong"), mlong_, kDefaultMlong);
    bag.write(QStringLiteral("Logo"), logo_, true);
    bag.write(QStringLiteral("Channel"), channel_, 0);
    bag.write(QStringLiteral("Tone"), tone_, 0);
    bag.write(QStringLiteral("Instrument"), instrument_, 0);
    bag.write(QStringLiteral("Pitch"), pitch_, 36);
    bag.write(QStringLiteral("Intensity"), intensity_, 127);
    bag.write(QStringLiteral("KeyBoardBlock"), keyBoardBlock_, kKeyBoardBlockBoth);
}

// ---- Properties -----------------------------------------------------------

bool MIDi::Enabled() const
{
    // The control's own state, whatever its parent's.
    return !testAttribute(Qt::WA_ForceDisabled);
}

void MIDi::SetEnabled(bool value)
{
    QWidget::setEnabled(value);
    if (Started)
        setPollEnabled(value);
}

void MIDi::setPollEnabled(bool on)
{
    const bool was = Timer2;
    Timer2 = on;
    // Keys pressed or let go while the poll was off are found at once, as a
    // periodic poll would find them at its next tick.
    if (on && !was)
        requestPoll();
}

bool MIDi::Silencer() const { return silencer_; }
void MIDi::SetSilencer(bool value) { silencer_ = value; }

bool MIDi::Logo() const { return logo_; }
void MIDi::SetLogo(bool value)
{
    logo_ = value;
    view_->setStripShown(value);
}

std::int32_t MIDi::KeyBoardBlock() const { return keyBoardBlock_; }
void MIDi::SetKeyBoardBlock(std::int32_t value) { keyBoardBlock_ = std::clamp(value, kKeyBoardBlockNone, kKeyBoardBlockBoth); }

std::int16_t MIDi::Intensity() const { return intensity_; }
void MIDi::SetIntensity(int value) { intensity_ = std::int16_t(std::clamp(value, 0, 127)); }

std::int32_t MIDi::Tone() const { return tone_; }
void MIDi::SetTone(std::int64_t value)
{
    tone_ = std::int32_t(std::clamp<std::int64_t>(value, 0, 11));
    showDigits();
}

void MIDi::setDigitKey(int tonic)
{
    digitKey_ = tonic < 0 ? -1 : tonic % 12;
    showDigits();
}

void MIDi::showDigits() { view_->setMovableDigits(digitKey_, pitch_ + tone_); }

std::int16_t MIDi::Mlong() const { return std::int16_t(mlong_); }
void MIDi::SetMlong(int value) { applyMlong(value); }

std::int16_t MIDi::Channel() const { return channel_; }
void MIDi::SetChannel(int value) { channel_ = std::int16_t(std::clamp(value, kLowestChannel, kHighestChannel)); }

std::int16_t MIDi::Pitch() const { return pitch_; }
void MIDi::SetPitch(int value)
{
    pitch_ = std::int16_t(std::clamp(value, 0, 63));
    showDigits();
}

std::int16_t MIDi::Instrument() const { return instrument_; }
void MIDi::SetInstrument(int value)
{
    instrument_ = std::int16_t(std::clamp(value, 0, 127));
    // A keyboard not started, before any port is open, sends its program at
    // StartMIDi instead (the window's start sets the panel first). A loaded
    // channel outside 0..15 would turn this into another message.
    const bool portExpected = Started || MidiOut::MidiOutHandle != 0;
    if (portExpected && channel_ >= kLowestChannel && channel_ <= kHighestChannel)
        MidiOut::ProgramChange(channel_, 0, instrument_);
}

void MIDi::applyMlong(int value)
{
    // A negative step length means nothing; the countdown keeps its pace.
    if (value < 0 || value > kLargestMlong)
        return;
    if (value == mlong_)
        return;
    mlong_ = value;
    if (Timer4.isActive())
        Timer4.stop();  // the next tick follows the new interval
    updateCountdownTimer();
}

void MIDi::updateCountdownTimer()
{
    // An interval of 0 stops the countdown: notes then end only by the
    // silencer or Mute.
    if (countdownEnabled_ && mlong_ > 0) {
        if (!Timer4.isActive())
            armCountdown();
    } else {
        Timer4.stop();
    }
}

void MIDi::armCountdown()
{
    // Every countdown ticks on the multiples of its interval on the monotonic
    // clock: the two keyboards' ticks then fall into one wake-up of the
    // process, and a late tick does not push the later ones back. Half an
    // interval of slack keeps an early or late wake from ticking twice.
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    Timer4.start(int(NextCountdownMs(now, mlong_) - now));
}

std::int64_t MIDi::NextCountdownMs(std::int64_t nowMs, int mlong) { return ((nowMs + mlong / 2) / mlong + 1) * mlong; }

bool MIDi::releaseTimerActive() const { return Timer3.isActive(); }
bool MIDi::countdownTimerActive() const { return Timer4.isActive(); }
bool MIDi::pollTimerActive() const { return Timer2; }

QColor MIDi::keyColor(int k) const { return view_->keyColor(k); }

std::int16_t MIDi::noteTimes(int k) const { return k >= 0 && k < kKeyCount ? NoteTimes[std::size_t(k)] : 0; }
std::int16_t MIDi::playTimes(int k) const { return k >= 0 && k < kKeyCount ? PlayTimes[std::size_t(k)] : kPlayIdle; }

// ---- Start and stop ---------------------------------------------------------

void MIDi::adoptDevice()
{
    device_->setPressGate(keyGate_);
    connect(device_.get(), &KeyboardDevice::changed, this, &MIDi::requestPoll);
    connect(device_.get(), &KeyboardDevice::changedByInput, this, &MIDi::pollNow);
}

void MIDi::setKeyGate(std::function<bool()> gate)
{
    keyGate_ = std::move(gate);
    if (device_)
        device_->setPressGate(keyGate_);
}

void MIDi::requestPoll()
{
    // Queued: the change is taken in by the poll after the event that made
    // it has been handled, as the next tick of a periodic poll would.
    if (wakePending_)
        return;
    wakePending_ = true;
    QMetaObject::invokeMethod(this, &MIDi::wakePoll, Qt::QueuedConnection);
}

void MIDi::wakePoll()
{
    wakePending_ = false;
    pollNow();
}

void MIDi::pollNow()
{
    // A disabled or stopped poll stays still.
    if (Timer2)
        pollTick();
}

void MIDi::StartMIDi()
{
    // Order matters: the port must be open before the program goes out, and
    // the poll may start before the keyboard is acquired because it skips
    // ticks whose state cannot be read.
    Started = true;
    std::int16_t deviceId = 0;
    MidiOut::FindMidiDevice(deviceId);
    MidiOut::OpenMidiOut(deviceId);
    SetInstrument(instrument_);
    setPollEnabled(true);
    if (!device_) {
        device_ = std::make_unique<ApplicationKeyboard>();
        adoptDevice();
    }
    deviceCreated_ = true;
    // A keyboard that cannot be acquired leaves the keys silent but the mouse
    // and Play still work; there is nobody to hand the failure to.
    device_->acquire();
    SetEnabled(true);
}

void MIDi::StopMIDi()
{
    Started = false;
    // A released device is never read again.
    Timer2 = false;
    if (!deviceCreated_)
        return;  // never started: the shared port may belong to the other keyboard
    device_->unacquire();
    MidiOut::CloseMidiOut();
}

// ---- Keyboard poll ----------------------------------------------------------

void MIDi::pollTick()
{
    // A poll that yields to the event loop must not be overtaken by another
    // one handling the same change.
    if (polling_) {
        pollAgain_ = true;  // the change is looked at once this poll is done
        return;
    }
    if (!Started || !device_)
        return;
    if (!device_->readState(KeyboardState))
        return;  // nothing readable this time: skip the tick
    polling_ = true;
    QPointer<MIDi> self(this);
    const auto changed = [this](int i) { return (KeyboardState[std::size_t(i)] != 0) != KeyStates[std::size_t(i)]; };
    int last = int(KeyboardState.size()) - 1;
    while (last >= 0 && !changed(last))
        --last;
    for (int i = 0; i <= last; ++i) {
        if (!changed(i))
            continue;
        const bool down = KeyboardState[std::size_t(i)] != 0;
        ScanKey(std::int16_t(i), down);
        // Other events run between two changed scan codes. After the last
        // one the poll returns to the event loop anyway: yielding there too
        // would only hold the other keyboard's poll, and its note, behind them.
        if (i < last) {
            QCoreApplication::processEvents();
            if (!self)
                return;  // destroyed while other events ran
        }
        KeyStates[std::size_t(i)] = down;
        if (!Started)
            break;  // stopped meanwhile: the rest of this state is a released device's
    }
    if (Started)
        MouseUp = !device_->leftButtonDown();
    polling_ = false;
    if (pollAgain_) {
        pollAgain_ = false;
        requestPoll();
    }
}

void MIDi::ScanKey(std::int16_t ScanCode, bool Down)
{
    // The space bar silences every polling instrument, on press and on
    // release, whatever block it answers; it plays no key.
    if (ScanCode == keymap::kSpaceBarScanCode) {
        Mute();
        return;
    }
    const bool mainBlock = keymap::InMainBlock(ScanCode);
    const bool ours = keyBoardBlock_ == kKeyBoardBlockBoth || (keyBoardBlock_ == kKeyBoardBlockMain && mainBlock) ||
                      (keyBoardBlock_ == kKeyBoardBlockRightHand && !mainBlock);
    if (!ours)
        return;
    if (ScanCode == keymap::kMainPedalScanCode || ScanCode == keymap::kRightHandPedalScanCode) {
        setPedal(Down);
        return;
    }
    // The piano map is the main block's; the right-hand block keeps its own.
    const int key = keymap::KeyForScanCode(ScanCode, layout_);
    if (key != keymap::kNoKey)
        PressKey(std::int16_t(key), Down);
}

// ---- Strike and release -----------------------------------------------------

void MIDi::PressKey(std::int16_t Key, bool Down)
{
    if (Key < 0 || Key > kLastKey)
        return;
    const bool black = keys::IsBlackKey(Key);
    if (!Down) {
        // Releasing restores the colour; the countdown ends the note, unless
        // it was held: then the release ends it (or the pedal keeps it).
        if (black)
            view_->setKeyColor(Key, kRestBlack);
        else
            view_->setKeyColor(Key, kRestWhite);
        if (const int sounding = heldSounding_[std::size_t(Key)] - 1; sounding >= 0) {
            heldSounding_[std::size_t(Key)] = 0;
            holder_[std::size_t(sounding)] = Holder::None;
            NoteTimes[std::size_t(sounding)] = 0;
            if (!pedal_)
                if (const auto note = noteOf(sounding, pitch_, tone_))
                    sendNoteOff(*note);
            if (releaseRecorder)
                releaseRecorder(sounding, false);
        }
        return;
    }

    view_->setKeyColorQuietly(Key, black ? kStruckBlack : kStruckWhite);
    QPointer<MIDi> self(this);
    const std::int16_t struck = Key;
    std::int16_t note = Key;
    emit NotePlayed(note);
    if (!self)
        return;
    // The host may name another key; one outside the keyboard is ignored.
    if (note >= 0 && note <= kLastKey)
        Key = note;
    if (silencer_)
        if (const auto previous = noteOf(CurrentKey, pitch_, tone_))
            sendNoteOff(*previous);
    sendNoteOn(Key);
    NoteTimes[std::size_t(Key)] = kNoteCountdown;
    if (hold_ && !striking_from_song_) {
        heldSounding_[std::size_t(struck)] = std::int16_t(Key + 1);
        holder_[std::size_t(Key)] = Holder::Key;
    }
    CurrentKey = Key;
    view_->repaintKey(struck);  // lit before the report; painted once the note is out
}

// Messages go out only when every byte is in its range: a channel above 15
// or a note outside 0..127 (reachable through loaded settings) would
// otherwise become a different message. Notes above 127 are silent keys.
void MIDi::sendNoteOn(std::int16_t key)
{
    const auto note = noteOf(key, pitch_, tone_);
    if (!note || *note < kLowestDataByte || *note > kHighestDataByte)
        return;
    if (channel_ < kLowestChannel || channel_ > kHighestChannel)
        return;
    const int velocity = liveVelocity_ >= 1 && liveVelocity_ <= kHighestDataByte ? liveVelocity_ : intensity_;
    if (velocity < kLowestDataByte || velocity > kHighestDataByte)
        return;
    MidiOut::NoteOn(channel_, *note, std::int16_t(velocity));
}

void MIDi::sendNoteOff(int note)
{
    if (note < kLowestDataByte || note > kHighestDataByte)
        return;
    if (channel_ < kLowestChannel || channel_ > kHighestChannel)
        return;
    MidiOut::NoteOff(channel_, std::int16_t(note));
}

void MIDi::countdownTick()
{
    // An idle key sends its note-off on every tick; that is what ends a note
    // whose count has run out, even if Pitch or Tone changed meanwhile. A
    // held key is left alone, and the pedal keeps every note.
    for (int k = 0; k < kKeyCount; ++k) {
        auto& count = NoteTimes[std::size_t(k)];
        if (holder_[std::size_t(k)] != Holder::None)
            continue;
        if (count > 0) {
            --count;
        } else if (pedal_) {
            continue;
        } else if (const auto note = noteOf(k, pitch_, tone_)) {
            sendNoteOff(*note);
        }
    }
}

void MIDi::PlayHeld(int Index, int nTime)
{
    QPointer<MIDi> self(this);
    Play(Index, nTime);
    if (self)
        holder_[std::size_t(CurrentKey)] = Holder::Song;
}

void MIDi::endHeld(int key)
{
    if (key < 0 || key > kLastKey || holder_[std::size_t(key)] != Holder::Song)
        return;
    holder_[std::size_t(key)] = Holder::None;
    NoteTimes[std::size_t(key)] = 0;
    if (!pedal_)
        if (const auto note = noteOf(key, pitch_, tone_))
            sendNoteOff(*note);
}

void MIDi::endSongHolds()
{
    for (int k = 0; k < kKeyCount; ++k)
        endHeld(k);
}

void MIDi::setHoldMode(bool on)
{
    hold_ = on;
    if (!on) {
        // What is held now ends by the countdown.
        heldSounding_.fill(0);
        for (Holder& h : holder_)
            if (h == Holder::Key)
                h = Holder::None;
    }
}

void MIDi::setPedal(bool down)
{
    if (down == pedal_)
        return;
    pedal_ = down;
    constexpr int kSustain = 64;
    if (channel_ >= kLowestChannel && channel_ <= kHighestChannel)
        MidiOut::ControlChange(channel_, kSustain, down ? 127 : 0);
    if (releaseRecorder)
        releaseRecorder(kPedalEvent, down);
}

void MIDi::Mute()
{
    // Tone is not added: Mute addresses Pitch .. Pitch + 64. All of it goes
    // out: a note left sounding at the other end of a cable is what it is for.
    const MidiOut::PassEverything all;
    for (int i = 0; i < kKeyCount; ++i)
        if (const auto note = noteOf(i, pitch_, 0))
            sendNoteOff(*note);
}

// ---- Play from a controller --------------------------------------------------

void MIDi::PlayLive(int Key, bool Down, int velocity)
{
    // As the computer keyboard: nothing while the keyboard is not read.
    if (!Started || !Timer2 || Key < 0 || Key > kLastKey)
        return;
    QPointer<MIDi> self(this);
    liveVelocity_ = velocity;
    PressKey(std::int16_t(Key), Down);
    if (self)  // the host may have ended us from NotePlayed
        liveVelocity_ = -1;
}

// ---- Play by the host -------------------------------------------------------

void MIDi::Play(int Index, int nTime)
{
    const auto index = std::int16_t(std::clamp(Index, 0, kLastKey));
    const auto ticks = std::int16_t(std::clamp(nTime, 0, int(std::numeric_limits<std::int16_t>::max())));
    if (!Timer3.isActive())
        Timer3.start();
    PlayTimes[std::size_t(index)] = ticks;
    MouseUp = true;
    striking_from_song_ = true;
    QPointer<MIDi> self(this);
    PressKey(index, true);
    if (self)
        striking_from_song_ = false;
}

void MIDi::releaseTick()
{
    Timer3.stop();
    for (int k = 0; k < kKeyCount; ++k) {
        auto& count = PlayTimes[std::size_t(k)];
        if (count > 1) {
            --count;
            if (!Timer3.isActive())
                Timer3.start();
            continue;
        }
        // nTime 0 and 1 both release at the first tick.
        const bool counting = count != kPlayIdle;
        count = kPlayIdle;
        if (counting)
            PressKey(std::int16_t(k), false);
    }
}

// ---- Mouse play ---------------------------------------------------------------

void MIDi::dragOver(int Index, int State)
{
    // Staying on the key struck last does not strike it again; a poll that
    // saw the button up, or a Play, allows it.
    if (Index != CurrentKey || MouseUp) {
        PressKey(std::int16_t(Index), true);
        DragKey = std::int16_t(Index);
        MouseUp = false;
    }
    if (DragKey != Index || State == KeyboardView::kDragLeave)
        PressKey(DragKey, false);
}

void MIDi::dragDrop(int Index) { PressKey(std::int16_t(Index), false); }
