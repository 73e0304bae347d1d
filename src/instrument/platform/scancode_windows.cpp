// On Windows a key event's native scan code is the keyboard's set-1 scan
// code, with bit 8 set for the keys sent with the 0xE0 prefix (the arrows,
// the editing keys, the pad's Enter and slash, the right Ctrl and Alt).
// In the 256-entry table those sit at their set-1 code + 0x80, as the
// keyboard device of DirectInput numbers them; NumLock changes neither.
// NumLock and Pause are the other way round: Windows reports NumLock as the
// extended 0x45 and Pause (E1 1D 45 on the wire) as the plain one, while
// the table has NumLock at 0x45 and Pause at 0xC5.
#include "instrument/keyboarddevice.h"

namespace {

constexpr quint32 kExtendedBit = 0x100;
constexpr int kExtendedInTable = 0x80;
constexpr quint32 kNumLockOrPause = 0x45;

}  // namespace

int ScanCodeFromNative(quint32 nativeScanCode)
{
    const quint32 code = nativeScanCode & 0xFF;
    if (nativeScanCode > 0x1FF || code == 0 || code >= 0x80)
        return -1;
    const bool extended = (nativeScanCode & kExtendedBit) != 0;
    if (code == kNumLockOrPause)
        return int(code) + (extended ? 0 : kExtendedInTable);
    return int(code) + (extended ? kExtendedInTable : 0);
}
