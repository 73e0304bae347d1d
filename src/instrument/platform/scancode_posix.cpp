// Key events on X11 and Wayland carry XKB key codes: the Linux input key
// codes shifted by 8.
#include "instrument/keyboarddevice.h"

namespace {

// XKB key codes are Linux input key codes shifted by 8.
constexpr quint32 kXkbKeycodeOffset = 8;
// Up to here Linux key codes equal the keyboard's set-1 scan codes.
constexpr int kLastPlainLinuxCode = 88;  // KEY_F12

struct Extended {
    int linuxCode;
    int scanCode;
};
// Keys that the keyboard sends with the 0xE0 prefix: in the 256-entry table
// they sit at their set-1 code + 0x80.
constexpr Extended kExtendedKeys[] = {
    {96, 156},   // KEY_KPENTER: numeric pad Enter
    {97, 157},   // KEY_RIGHTCTRL
    {98, 181},   // KEY_KPSLASH: numeric pad slash
    {99, 183},   // KEY_SYSRQ: Print Screen
    {100, 184},  // KEY_RIGHTALT
    {102, 199},  // KEY_HOME
    {103, 200},  // KEY_UP
    {104, 201},  // KEY_PAGEUP
    {105, 203},  // KEY_LEFT
    {106, 205},  // KEY_RIGHT
    {107, 207},  // KEY_END
    {108, 208},  // KEY_DOWN
    {109, 209},  // KEY_PAGEDOWN
    {110, 210},  // KEY_INSERT
    {111, 211},  // KEY_DELETE
    {119, 197},  // KEY_PAUSE
    {125, 219},  // KEY_LEFTMETA
    {126, 220},  // KEY_RIGHTMETA
    {127, 221},  // KEY_COMPOSE
};

}  // namespace

int ScanCodeFromNative(quint32 nativeScanCode)
{
    if (nativeScanCode <= kXkbKeycodeOffset)
        return -1;
    const quint32 linuxCode = nativeScanCode - kXkbKeycodeOffset;
    if (linuxCode <= quint32(kLastPlainLinuxCode))
        return int(linuxCode);
    for (const Extended& e : kExtendedKeys)
        if (quint32(e.linuxCode) == linuxCode)
            return e.scanCode;
    return -1;
}
