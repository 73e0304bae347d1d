// On Windows a key event's native scan code is the keyboard's set-1 scan
// code, with bit 8 set for the keys sent with the 0xE0 prefix (the arrows,
// the editing keys, the pad's Enter and slash, the right Ctrl and Alt).
// In the 256-entry table those sit at their set-1 code + 0x80, as the
// keyboard device of DirectInput numbers them; NumLock changes neither.
#include "instrument/keyboarddevice.h"

namespace {

constexpr quint32 kExtendedBit = 0x100;
constexpr int kExtendedInTable = 0x80;

}  // namespace

int ScanCodeFromNative(quint32 nativeScanCode)
{
    const quint32 code = nativeScanCode & 0xFF;
    if (nativeScanCode > 0x1FF || code == 0 || code >= 0x80)
        return -1;
    return int(code) + ((nativeScanCode & kExtendedBit) ? kExtendedInTable : 0);
}
