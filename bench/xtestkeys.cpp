#include "xtestkeys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

XTestKeyboard::XTestKeyboard() : display_(XOpenDisplay(nullptr)) {}

XTestKeyboard::~XTestKeyboard()
{
    if (display_)
        XCloseDisplay(static_cast<Display*>(display_));
}

void XTestKeyboard::send(unsigned code, bool down)
{
    auto* display = static_cast<Display*>(display_);
    XTestFakeKeyEvent(display, code, down ? True : False, 0);
    XFlush(display);
}
