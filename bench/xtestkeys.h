#pragma once

// Presses keys through the X server, as a player's keyboard does: the window
// with the focus gets them as real key events. Kept apart from Qt's headers,
// whose names Xlib's macros would clash with.
class XTestKeyboard {
public:
    XTestKeyboard();  // on the display DISPLAY names
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    bool ready() const { return display_ != nullptr; }
    // An X key code (a Linux key code + 8); returns once it is on its way.
    void send(unsigned code, bool down);

private:
    void* display_;
};
