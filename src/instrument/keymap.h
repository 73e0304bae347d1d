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

namespace detail {
struct Entry {
    int code;
    int key;
};
// Only white keys are reachable from the keyboard; black keys are for the
// mouse and for Play.
constexpr Entry kEntries[] = {
    // main block
    {44, 12}, {45, 14}, {46, 16}, {47, 17}, {48, 19}, {49, 21}, {50, 23},
    {30, 24}, {51, 24}, {31, 26}, {52, 26}, {32, 28}, {53, 28},
    {33, 29}, {34, 31}, {35, 33}, {36, 35},
    {16, 36}, {37, 36}, {17, 38}, {38, 38}, {18, 40}, {39, 40},
    {19, 41}, {40, 41}, {20, 43}, {41, 43}, {21, 45}, {22, 47},
    {2, 48}, {23, 48}, {3, 50}, {24, 50}, {4, 52}, {25, 52},
    {5, 53}, {26, 53}, {6, 55}, {27, 55},
    {7, 57}, {8, 59}, {9, 60}, {10, 62}, {11, 64},
    // right-hand block
    {203, 12}, {208, 14}, {205, 16}, {200, 17}, {82, 19}, {83, 21}, {156, 23},
    {79, 24}, {80, 26}, {81, 28}, {75, 29}, {76, 31}, {77, 33}, {71, 35},
    {72, 36}, {73, 38}, {78, 40}, {69, 41}, {181, 43}, {55, 45}, {74, 47},
    {211, 48}, {207, 50}, {209, 52}, {210, 53}, {199, 55}, {201, 57},
    {183, 59}, {70, 60}, {197, 62},
};

constexpr std::array<std::int8_t, kScanCodeCount> build()
{
    std::array<std::int8_t, kScanCodeCount> table{};
    for (auto& slot : table)
        slot = kNoKey;
    for (const Entry& e : kEntries)
        table[e.code] = std::int8_t(e.key);
    return table;
}
}  // namespace detail

constexpr std::array<std::int8_t, kScanCodeCount> kKeyForScanCode = detail::build();

// The instrument key a scan code plays, or kNoKey.
constexpr int KeyForScanCode(int code)
{
    return code >= 0 && code < kScanCodeCount ? kKeyForScanCode[code] : kNoKey;
}

constexpr bool InMainBlock(int code) { return code < kRightHandBlockFirstCode; }

static_assert(KeyForScanCode(44) == 12 && KeyForScanCode(82) == 19 && KeyForScanCode(197) == 62);
static_assert(KeyForScanCode(kSpaceBarScanCode) == kNoKey);

}  // namespace keymap
