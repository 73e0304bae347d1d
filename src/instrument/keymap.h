#pragma once
// Which computer key plays which instrument key. Codes are keyboard scan
// codes as the keyboard device reports them (set-1 codes; the extended keys
// carry 0x80, as in the classic 256-entry keyboard state).
#include <array>
#include <cstdint>

namespace keymap {

constexpr int kScanCodeCount = 256;
constexpr int kSpaceBarScanCode = 57;
// Codes below this belong to the main block (letters and digits); the
// numeric pad, the arrows and the editing keys lie at or above it.
constexpr int kRightHandBlockFirstCode = 55;
constexpr std::int8_t kNoKey = -1;

// The classic map reaches the white keys only; the piano map puts the lower
// keyboard's black keys on the row above its white ones, two rows an octave.
enum class Layout { Classic, Piano };

// The sustain pedal of each block, keys no map uses: Left Shift for the main
// block, Right Ctrl for the right-hand block.
constexpr int kMainPedalScanCode = 42;
constexpr int kRightHandPedalScanCode = 0x80 | 29;

namespace detail {
struct Entry {
    int code;
    int key;
};
// The classic main block: white keys only; black keys are for the mouse and
// for Play. Its last keys repeat the first ones of the rows below.
constexpr Entry kClassicMain[] = {
    {44, 12}, {45, 14}, {46, 16}, {47, 17}, {48, 19}, {49, 21}, {50, 23},
    {30, 24}, {51, 24}, {31, 26}, {52, 26}, {32, 28}, {53, 28},
    {33, 29}, {34, 31}, {35, 33}, {36, 35},
    {16, 36}, {37, 36}, {17, 38}, {38, 38}, {18, 40}, {39, 40},
    {19, 41}, {40, 41}, {20, 43}, {41, 43}, {21, 45}, {22, 47},
    {2, 48}, {23, 48}, {3, 50}, {24, 50}, {4, 52}, {25, 52},
    {5, 53}, {26, 53}, {6, 55}, {27, 55},
    {7, 57}, {8, 59}, {9, 60}, {10, 62}, {11, 64},
};
// The piano main block: Z S X D C V G B H N J M , L . ; / from key 12 and
// Q 2 W 3 E R 5 T 6 Y 7 U I 9 O 0 P [ = ] from key 24, every semitone.
constexpr Entry kPianoMain[] = {
    {44, 12}, {31, 13}, {45, 14}, {32, 15}, {46, 16}, {47, 17}, {34, 18}, {48, 19}, {35, 20},
    {49, 21}, {36, 22}, {50, 23}, {51, 24}, {38, 25}, {52, 26}, {39, 27}, {53, 28},
    {16, 24}, {3, 25}, {17, 26}, {4, 27}, {18, 28}, {19, 29}, {6, 30}, {20, 31}, {7, 32}, {21, 33},
    {8, 34}, {22, 35}, {23, 36}, {10, 37}, {24, 38}, {11, 39}, {25, 40}, {26, 41}, {13, 42}, {27, 43},
};
// The right-hand block, the same in both maps.
constexpr Entry kRightHand[] = {
    {203, 12}, {208, 14}, {205, 16}, {200, 17}, {82, 19}, {83, 21}, {156, 23},
    {79, 24}, {80, 26}, {81, 28}, {75, 29}, {76, 31}, {77, 33}, {71, 35},
    {72, 36}, {73, 38}, {78, 40}, {69, 41}, {181, 43}, {55, 45}, {74, 47},
    {211, 48}, {207, 50}, {209, 52}, {210, 53}, {199, 55}, {201, 57},
    {183, 59}, {70, 60}, {197, 62},
};

template <std::size_t N>
constexpr std::array<std::int8_t, kScanCodeCount> build(const Entry (&main)[N])
{
    std::array<std::int8_t, kScanCodeCount> table{};
    for (auto& slot : table)
        slot = kNoKey;
    for (const Entry& e : main)
        table[e.code] = std::int8_t(e.key);
    for (const Entry& e : kRightHand)
        table[e.code] = std::int8_t(e.key);
    return table;
}
}  // namespace detail

constexpr std::array<std::int8_t, kScanCodeCount> kKeyForScanCode = detail::build(detail::kClassicMain);
constexpr std::array<std::int8_t, kScanCodeCount> kPianoKeyForScanCode = detail::build(detail::kPianoMain);

// The instrument key a scan code plays, or kNoKey.
constexpr int KeyForScanCode(int code, Layout layout = Layout::Classic)
{
    if (code < 0 || code >= kScanCodeCount)
        return kNoKey;
    return layout == Layout::Piano ? kPianoKeyForScanCode[code] : kKeyForScanCode[code];
}

constexpr bool InMainBlock(int code) { return code < kRightHandBlockFirstCode; }

// The computer key that plays `key`, from the main block, the right-hand
// block or both, or -1. Where several reach one key, the first of its map
// (A before the comma, Q before K, the digits before I O P) names it.
constexpr int ScanCodeForKey(int key, Layout layout, bool mainBlock, bool rightHand)
{
    if (mainBlock) {
        if (layout == Layout::Piano) {
            for (const detail::Entry& e : detail::kPianoMain)
                if (e.key == key)
                    return e.code;
        } else {
            for (const detail::Entry& e : detail::kClassicMain)
                if (e.key == key)
                    return e.code;
        }
    }
    if (rightHand)
        for (const detail::Entry& e : detail::kRightHand)
            if (e.key == key)
                return e.code;
    return -1;
}

// What is printed on the computer key with a scan code the maps use (UTF-8),
// short enough for the face of an on-screen key; "" for any other code.
constexpr const char* KeyName(int code)
{
    switch (code) {
    case 2: return "1"; case 3: return "2"; case 4: return "3"; case 5: return "4"; case 6: return "5";
    case 7: return "6"; case 8: return "7"; case 9: return "8"; case 10: return "9"; case 11: return "0";
    case 13: return "=";
    case 16: return "Q"; case 17: return "W"; case 18: return "E"; case 19: return "R"; case 20: return "T";
    case 21: return "Y"; case 22: return "U"; case 23: return "I"; case 24: return "O"; case 25: return "P";
    case 26: return "["; case 27: return "]";
    case 30: return "A"; case 31: return "S"; case 32: return "D"; case 33: return "F"; case 34: return "G";
    case 35: return "H"; case 36: return "J"; case 37: return "K"; case 38: return "L"; case 39: return ";";
    case 40: return "'"; case 41: return "`";
    case 44: return "Z"; case 45: return "X"; case 46: return "C"; case 47: return "V"; case 48: return "B";
    case 49: return "N"; case 50: return "M"; case 51: return ","; case 52: return "."; case 53: return "/";
    case 55: return "小*"; case 69: return "Num"; case 70: return "ScrLk";
    case 71: return "小7"; case 72: return "小8"; case 73: return "小9"; case 74: return "小-";
    case 75: return "小4"; case 76: return "小5"; case 77: return "小6"; case 78: return "小+";
    case 79: return "小1"; case 80: return "小2"; case 81: return "小3"; case 82: return "小0"; case 83: return "小.";
    case 156: return "Enter"; case 181: return "小/"; case 183: return "PrtSc"; case 197: return "Pause";
    case 199: return "Home"; case 200: return "↑"; case 201: return "PgUp"; case 203: return "←";
    case 205: return "→"; case 207: return "End"; case 208: return "↓"; case 209: return "PgDn";
    case 210: return "Ins"; case 211: return "Del";
    default: return "";
    }
}

static_assert(KeyForScanCode(44) == 12 && KeyForScanCode(82) == 19 && KeyForScanCode(197) == 62);
static_assert(KeyForScanCode(kSpaceBarScanCode) == kNoKey);
static_assert(KeyForScanCode(31, Layout::Piano) == 13 && KeyForScanCode(27, Layout::Piano) == 43 &&
              KeyForScanCode(82, Layout::Piano) == 19);
static_assert(KeyForScanCode(kMainPedalScanCode) == kNoKey && KeyForScanCode(kRightHandPedalScanCode) == kNoKey);

}  // namespace keymap
