#pragma once
#include <cstdint>

// A packed short message taken apart: status in bits 0-7, the data bytes in
// bits 8-15 and 16-23. `length` is the number of bytes it has on the wire, 0
// when it is not a short message at all (a data byte where the status should
// be, a system-exclusive start, a data byte with its top bit set).
struct ShortMessage {
    std::uint8_t status = 0, data1 = 0, data2 = 0;
    int length = 0;
};

inline ShortMessage DecodeShortMessage(std::uint32_t packed)
{
    ShortMessage m;
    m.status = std::uint8_t(packed & 0xFF);
    m.data1 = std::uint8_t((packed >> 8) & 0xFF);
    m.data2 = std::uint8_t((packed >> 16) & 0xFF);
    const std::uint8_t s = m.status;
    int length = 0;
    if (s < 0x80)
        length = 0;  // running status needs a previous message; a short message always carries its status
    else if (s < 0xC0 || (s >= 0xE0 && s < 0xF0))
        length = 3;  // note-off, note-on, key pressure, control change, pitch bend
    else if (s < 0xE0)
        length = 2;  // program change, channel pressure
    else if (s == 0xF1 || s == 0xF3)
        length = 2;
    else if (s == 0xF2)
        length = 3;
    else if (s == 0xF6 || s >= 0xF8)
        length = 1;
    // 0xF0, 0xF4, 0xF5, 0xF7: system exclusive or undefined, not a short message.
    if ((length >= 2 && m.data1 >= 0x80) || (length == 3 && m.data2 >= 0x80))
        length = 0;  // a receiver would take such a byte for a new status
    m.length = length;
    return m;
}
