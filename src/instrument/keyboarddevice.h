#pragma once
// The keyboard as the note engine sees it: 256 key-down flags indexed by
// keyboard scan code, readable at every poll, and the left mouse button.
#include <QAbstractNativeEventFilter>
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>

class KeyboardDevice : public QObject {
    Q_OBJECT
public:
    using State = std::array<std::uint8_t, 256>;
    static constexpr std::uint8_t kDown = 0x80;

    explicit KeyboardDevice(QObject* parent = nullptr);

    // Acquiring makes the state readable; a released device is never read.
    // The application's keyboard has nothing to refuse: it is the key events
    // the program gets anyway.
    virtual void acquire();
    virtual void unacquire();
    bool acquired() const { return acquired_; }

    // Copies the flags; false (state untouched) when the device is not acquired.
    bool readState(State& state) const;
    virtual bool leftButtonDown() const { return leftButton_; }

    // The flags themselves. Setting a flag to the state it already has does
    // nothing, so a held key's repeats never count as new presses.
    void setKey(int code, bool down);
    // The same, for a key read from the window system's input before any
    // event handler has seen it: the poll may then run at once.
    void setKeyFromInput(int code, bool down);
    bool isDown(int code) const;
    void releaseAll();
    // Asked at every key press: false while the keys belong to something else
    // (a text box, an open list, a dialog), and then the press is not taken.
    // Releases are always taken, so that no key sticks.
    void setPressGate(std::function<bool()> gate) { gate_ = std::move(gate); }
    void setLeftButton(bool down);

signals:
    // A flag or the left mouse button changed: the poll runs on this, once
    // the event that made the change has been handled.
    void changed();
    // A flag changed by setKeyFromInput: nothing is being handled, so the
    // poll runs at once and the note is not held up behind the event.
    void changedByInput();

private:
    bool storeKey(int code, bool down);

    std::function<bool()> gate_;
    State table_{};
    bool acquired_ = false;
    bool leftButton_ = false;
};

// The application's own keyboard: the flags follow the key events that reach
// any window of the application, whichever widget has the focus. On X they
// are read from the X server's key events, as the program takes them in.
class ApplicationKeyboard : public KeyboardDevice, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit ApplicationKeyboard(QObject* parent = nullptr);  // the native filter leaves with it

    bool leftButtonDown() const override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool native_ = false;
};

// The keyboard scan code of a key event's native scan code, or -1 for a key
// the table has no place for. Native codes are the platform's: XKB key codes
// (Linux input key code + 8) on X11 and Wayland, set-1 scan codes with bit 8
// for extended keys on Windows (platform/scancode_*.cpp).
int ScanCodeFromNative(quint32 nativeScanCode);
