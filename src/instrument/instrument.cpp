#include "instrument/instrument.h"

#include "instrument/keyboarddevice.h"
#include "instrument/keyboardview.h"
#include "instrument/keymap.h"
#include "instrument/propertybag.h"
#include "instrument/twips.h"
#include "instrument/usercontrol1.h"
#include "midi/midiout.h"

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <limits>

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

constexpr int kReleaseIntervalMs = 10;
constexpr int kDefaultMlong = 100;
constexpr int kLargestMlong = std::numeric_limits<std::int16_t>::max();
constexpr int kKeyBoardBlockBoth = NoteEngine::kKeyBoardBlockBoth;
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

template <typename T>
bool fits(long long v)
{
    return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
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
    connect(view_, &KeyboardView::dragOver, this,
            [this](int key, int state) { engine_.dragOver(key, state == KeyboardView::kDragLeave); });
    connect(view_, &KeyboardView::dragDropped, this, [this](int key) { engine_.dragDrop(key); });

    // The view is lit before the report and painted once the note is out.
    engine_.showKey = [this](int key, bool lit) { showKey(key, lit); };
    engine_.struckOut = [this](int key) { view_->repaintKey(key); };
    engine_.keyToSound = [this](int key) { return keyToSound ? keyToSound(key) : key; };
    engine_.notePlayed = [this](int key) { emit NotePlayed(std::int16_t(key)); };
    engine_.lengthChanged = [this](int key, bool down) {
        if (releaseRecorder)
            releaseRecorder(key, down);
    };

    Timer3.setInterval(kReleaseIntervalMs);
    Timer3.setTimerType(Qt::PreciseTimer);
    Timer4.setSingleShot(true);
    Timer4.setTimerType(Qt::PreciseTimer);
    connect(&Timer3, &QTimer::timeout, this, &MIDi::releaseTick);
    connect(&Timer4, &QTimer::timeout, this, [this] {
        armCountdown();
        countdownTick();
    });

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
    engine_.settings.silencer = readBool(bag, "Silencer", false);
    QWidget::setEnabled(readBool(bag, "Enabled", true));  // the poll is not touched here
    const auto mlong = readNumber<std::int32_t>(bag, "Mlong", kDefaultMlong);
    applyMlong(mlong);
    SetLogo(readBool(bag, "Logo", true));
    // Stored as they are: no clamping, and the program goes out at StartMIDi.
    engine_.settings.channel = readNumber<std::int16_t>(bag, "Channel", 0);
    engine_.settings.tone = readNumber<std::int32_t>(bag, "Tone", 0);
    instrument_ = readNumber<std::int16_t>(bag, "Instrument", 0);
    engine_.settings.pitch = readNumber<std::int16_t>(bag, "Pitch", 36);
    engine_.settings.intensity = readNumber<std::int16_t>(bag, "Intensity", 127);
    engine_.settings.keyBoardBlock = readNumber<std::int32_t>(bag, "KeyBoardBlock", kKeyBoardBlockBoth);

    view_->setMousePlayEnabled(true);
    showKeyLabels();

    if (runtime) {
        Timer3.start();
        countdownEnabled_ = true;
        updateCountdownTimer();
    }
}

void MIDi::SaveSettings(PropertyBag& bag) const
{
    bag.write(QStringLiteral("Enabled"), Enabled(), true);
    bag.write(QStringLiteral("Silencer"), engine_.settings.silencer, false);
    bag.write(QStringLiteral("Mlong"), mlong_, kDefaultMlong);
    bag.write(QStringLiteral("Logo"), logo_, true);
    bag.write(QStringLiteral("Channel"), engine_.settings.channel, 0);
    bag.write(QStringLiteral("Tone"), engine_.settings.tone, 0);
    bag.write(QStringLiteral("Instrument"), instrument_, 0);
    bag.write(QStringLiteral("Pitch"), engine_.settings.pitch, 36);
    bag.write(QStringLiteral("Intensity"), engine_.settings.intensity, 127);
    bag.write(QStringLiteral("KeyBoardBlock"), engine_.settings.keyBoardBlock, kKeyBoardBlockBoth);
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

bool MIDi::Silencer() const { return engine_.settings.silencer; }
void MIDi::SetSilencer(bool value) { engine_.settings.silencer = value; }

bool MIDi::Logo() const { return logo_; }
void MIDi::SetLogo(bool value)
{
    logo_ = value;
    view_->setStripShown(value);
}

std::int32_t MIDi::KeyBoardBlock() const { return engine_.settings.keyBoardBlock; }
void MIDi::SetKeyBoardBlock(std::int32_t value)
{
    engine_.settings.keyBoardBlock = std::clamp(value, NoteEngine::kKeyBoardBlockNone, kKeyBoardBlockBoth);
    showKeyLabels();
}

void MIDi::setKeyLayout(keymap::Layout layout)
{
    engine_.settings.layout = layout;
    showKeyLabels();
}

void MIDi::setKeyLabelsShown(bool on) { view_->setLabelsShown(on); }

void MIDi::showKeyLabels()
{
    const auto block = engine_.settings.keyBoardBlock;
    const bool mainBlock = block == NoteEngine::kKeyBoardBlockMain || block == kKeyBoardBlockBoth;
    const bool rightHand = block == NoteEngine::kKeyBoardBlockRightHand || block == kKeyBoardBlockBoth;
    std::array<QString, keys::kKeyCount> labels;
    for (int k = 0; k < keys::kKeyCount; ++k)
        if (const int code = keymap::ScanCodeForKey(k, engine_.settings.layout, mainBlock, rightHand); code >= 0)
            labels[std::size_t(k)] = QString::fromUtf8(keymap::KeyName(code));
    view_->setKeyLabels(labels);
}

std::int16_t MIDi::Intensity() const { return engine_.settings.intensity; }
void MIDi::SetIntensity(int value) { engine_.settings.intensity = std::int16_t(std::clamp(value, 0, 127)); }

std::int32_t MIDi::Tone() const { return engine_.settings.tone; }
void MIDi::SetTone(std::int64_t value)
{
    engine_.settings.tone = std::int32_t(std::clamp<std::int64_t>(value, 0, 11));
    showDigits();
}

void MIDi::setDigitKey(int tonic)
{
    digitKey_ = tonic < 0 ? -1 : tonic % 12;
    showDigits();
}

void MIDi::showDigits() { view_->setMovableDigits(digitKey_, engine_.settings.pitch + engine_.settings.tone); }

std::int16_t MIDi::Mlong() const { return std::int16_t(mlong_); }
void MIDi::SetMlong(int value) { applyMlong(value); }

std::int16_t MIDi::Channel() const { return engine_.settings.channel; }
void MIDi::SetChannel(int value) { engine_.settings.channel = std::int16_t(std::clamp(value, kLowestChannel, kHighestChannel)); }

std::int16_t MIDi::Pitch() const { return engine_.settings.pitch; }
void MIDi::SetPitch(int value)
{
    engine_.settings.pitch = std::int16_t(std::clamp(value, 0, 63));
    showDigits();
}

std::int16_t MIDi::Instrument() const { return instrument_; }
void MIDi::SetInstrument(int value)
{
    instrument_ = std::int16_t(std::clamp(value, 0, 127));
    // A keyboard not started, before any port is open, sends its program at
    // StartMIDi instead (the window's start sets the panel first).
    MidiOut* port = output_.port;
    if (port && (Started || port->MidiOutHandle() != 0))
        port->ProgramChange(engine_.settings.channel, 0, instrument_);
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
    // With nothing answering, device 0 is tried all the same, so that the
    // error sink hears why the keyboard is silent.
    if (MidiOut* port = output_.port)
        port->OpenMidiOut(port->FindMidiDevice().value_or(0));
    SetInstrument(instrument_);
    setPollEnabled(true);
    if (!device_) {
        device_ = std::make_unique<ApplicationKeyboard>();
        adoptDevice();
    }
    deviceCreated_ = true;
    device_->acquire();
    SetEnabled(true);
}

void MIDi::StopMIDi()
{
    Started = false;
    // A released device is never read again.
    Timer2 = false;
    engine_.endScan();
    if (deviceCreated_)
        device_->unacquire();
    // The port is shared: closing it here closes it for the other keyboard too.
    if (output_.port)
        output_.port->CloseMidiOut();
}

// ---- Keyboard poll ----------------------------------------------------------

void MIDi::pollTick()
{
    if (!Started || !device_)
        return;
    if (!device_->readState(KeyboardState))
        return;  // nothing readable this time: skip the tick
    engine_.scan(KeyboardState);
    if (Started)  // a handler of the strikes may have stopped the keyboard
        engine_.setMouseUp(!device_->leftButtonDown());
}

void MIDi::showKey(int key, bool lit)
{
    const bool black = keys::IsBlackKey(key);
    if (lit)
        view_->setKeyColorQuietly(key, black ? kStruckBlack : kStruckWhite);
    else if (black)
        view_->setKeyColor(key, kRestBlack);
    else
        view_->setKeyColor(key, kRestWhite);
}

// ---- The port -----------------------------------------------------------------

void MIDi::PortOutput::noteOn(int channel, int note, int velocity)
{
    if (port)
        port->NoteOn(channel, note, velocity);
}

void MIDi::PortOutput::noteOff(int channel, int note)
{
    if (port)
        port->NoteOff(channel, note);
}

void MIDi::PortOutput::controlChange(int channel, int controller, int value)
{
    if (port)
        port->ControlChange(channel, controller, value);
}

bool MIDi::PortOutput::sounding(int channel, int note) const { return port && port->Sounding(channel, note); }

// ---- Play ---------------------------------------------------------------------

void MIDi::PlayLive(int Key, bool Down, int velocity)
{
    // As the computer keyboard: nothing while the keyboard is not read.
    if (!Started || !Timer2)
        return;
    if (Down)
        engine_.strikeLive(Key, velocity);
    else
        engine_.release(Key);
}

void MIDi::Play(int Index, int nTime)
{
    if (!Timer3.isActive())
        Timer3.start();
    engine_.play(Index, nTime);
}

void MIDi::PlayHeld(int Index, int nTime)
{
    if (!Timer3.isActive())
        Timer3.start();
    engine_.play(Index, nTime, true);
}

void MIDi::releaseTick()
{
    Timer3.stop();
    if (engine_.releaseTick())
        Timer3.start();
}
