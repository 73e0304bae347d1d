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

static_assert(KeyForScanCode(44) == 12 && KeyForScanCode(82) == 19 && KeyForScanCode(197) == 62);
static_assert(KeyForScanCode(kSpaceBarScanCode) == kNoKey);
static_assert(KeyForScanCode(31, Layout::Piano) == 13 && KeyForScanCode(27, Layout::Piano) == 43 &&
              KeyForScanCode(82, Layout::Piano) == 19);
static_assert(KeyForScanCode(kMainPedalScanCode) == kNoKey && KeyForScanCode(kRightHandPedalScanCode) == kNoKey);

}  // namespace keymap
