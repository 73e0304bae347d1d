// X11 and Wayland: XKB key codes, the Linux input key code + 8. Up to F12
// the Linux code is the set-1 scan code; extended keys sit 0x80 above theirs
// in the key map's table.
#include "platform/nativecodes.h"

namespace {

constexpr quint32 kXkbOffset = 8;
const std::pair<int, int> kExtended[] = {
    {96, 156}, {98, 181}, {99, 183}, {119, 197}, {102, 199}, {103, 200}, {104, 201},
    {105, 203}, {106, 205}, {107, 207}, {108, 208}, {109, 209}, {110, 210}, {111, 211},
};

}  // namespace

std::vector<std::pair<quint32, int>> PlatformKeyCodes()
{
    std::vector<std::pair<quint32, int>> codes;
    for (int code : {2, 11, 16, 30, 41, 44, 53, 55, 57, 69, 70, 71, 82, 83})
        codes.push_back({quint32(code) + kXkbOffset, code});
    for (const auto& [linuxCode, keyMapCode] : kExtended)
        codes.push_back({quint32(linuxCode) + kXkbOffset, keyMapCode});
    return codes;
}

quint32 NativeCodeOf(int keyMapCode)
{
    for (const auto& [linuxCode, code] : kExtended)
        if (code == keyMapCode)
            return quint32(linuxCode) + kXkbOffset;
    return quint32(keyMapCode) + kXkbOffset;
}
