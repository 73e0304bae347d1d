#include "instrument/keyboarddevice.h"

#include "instrument/platform/autorepeat.h"
#include "instrument/platform/nativekeys.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>

KeyboardDevice::KeyboardDevice(QObject* parent) : QObject(parent) {}

void KeyboardDevice::acquire() { acquired_ = true; }

void KeyboardDevice::unacquire() { acquired_ = false; }

bool KeyboardDevice::readState(State& state) const
{
    if (!acquired_)
        return false;
    state = table_;
    return true;
}

bool KeyboardDevice::storeKey(int code, bool down)
{
    if (code < 0 || code >= int(table_.size()))
        return false;
    if (down && gate_ && !gate_())
        return false;
    const std::uint8_t value = down ? kDown : 0;
    if (table_[std::size_t(code)] == value)
        return false;
    table_[std::size_t(code)] = value;
    return true;
}

void KeyboardDevice::setKey(int code, bool down)
{
    if (storeKey(code, down))
        emit changed();
}

void KeyboardDevice::setKeyFromInput(int code, bool down)
{
    if (storeKey(code, down))
        emit changedByInput();
}

void KeyboardDevice::setLeftButton(bool down)
{
    if (leftButton_ == down)
        return;
    leftButton_ = down;
    emit changed();
}

bool KeyboardDevice::isDown(int code) const
{
    return code >= 0 && code < int(table_.size()) && table_[std::size_t(code)] != 0;
}

void KeyboardDevice::releaseAll()
{
    bool any = false;
    for (auto& flag : table_) {
        any = any || flag != 0;
        flag = 0;
    }
    if (any)
        emit changed();
}

ApplicationKeyboard::ApplicationKeyboard(QObject* parent) : KeyboardDevice(parent)
{
    // Without this X reports a held key as release+press pairs, and a pair
    // that Qt does not recognise would strike the key again. With it, the
    // keys are read from X's own events as they come in: the note goes out
    // before Qt has turned the event into a key event and delivered it.
    native_ = RequestDetectableAutoRepeat();
    if (auto* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        if (native_)
            app->installNativeEventFilter(this);
    }
}

bool ApplicationKeyboard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    quint32 native = 0;
    bool down = false;
    if (NativeKeyEvent(eventType, message, native, down)) {
        const int code = ScanCodeFromNative(native);
        if (code >= 0)
            setKeyFromInput(code, down);
    }
    return false;
}

bool ApplicationKeyboard::leftButtonDown() const
{
    return QGuiApplication::mouseButtons().testFlag(Qt::LeftButton);
}

bool ApplicationKeyboard::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        // A key event is seen once per widget it propagates through; the
        // flags make that harmless. Repeats of a held key change nothing.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->isAutoRepeat())
            break;
        if (native_ && key->spontaneous())
            break;  // read from X's event already; a late copy could undo a release
        const int code = ScanCodeFromNative(key->nativeScanCode());
        if (code >= 0)
            setKey(code, event->type() == QEvent::KeyPress);
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        // Mouse play strikes the key struck last again only once a poll has
        // seen the button up: a button change runs the poll too (once per
        // widget it passes through; the polls that follow find nothing new).
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            emit changed();
        break;
    case QEvent::ApplicationDeactivate:
        // A window that has lost the focus gets no key releases: forget every
        // held key rather than let it stick.
        releaseAll();
        break;
    case QEvent::ApplicationStateChange:
        if (static_cast<QApplicationStateChangeEvent*>(event)->applicationState() != Qt::ApplicationActive)
            releaseAll();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
