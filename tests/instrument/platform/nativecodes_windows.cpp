// Windows (and Wine): the set-1 scan code, bit 8 set for extended keys, as
// Qt takes it from the key message ((lParam >> 16) & 0x1FF).
#include "platform/nativecodes.h"

std::vector<std::pair<quint32, int>> PlatformKeyCodes()
{
    return {
        {0x2C, 44},   // Z
        {0x1E, 30},   // A
        {0x02, 2},    // 1
        {0x39, 57},   // space
        {0x52, 82},   // pad 0, NumLock on or off
        {0x4F, 79},   // pad 1
        {0x145, 69},  // NumLock: the extended 0x45 on Windows
        {0x45, 197},  // Pause: the plain one
        {0x148, 200}, // Up
        {0x14B, 203}, // Left
        {0x152, 210}, // Insert
        {0x153, 211}, // Delete
        {0x147, 199}, // Home
        {0x149, 201}, // Page Up
        {0x14F, 207}, // End
        {0x151, 209}, // Page Down
        {0x11C, 156}, // pad Enter
        {0x135, 181}, // pad /
    };
}

quint32 NativeCodeOf(int keyMapCode)
{
    if (keyMapCode == 69 || keyMapCode == 197)
        return keyMapCode == 69 ? 0x145 : 0x45;
    return keyMapCode >= 0x80 ? quint32(keyMapCode - 0x80) | 0x100 : quint32(keyMapCode);
}
