#pragma once
// The notes a system MIDI port has struck and not yet ended. An instrument at
// the other end of a cable keeps a note sounding until it hears its note-off,
// also after we are gone, so closing a port ends them first.
#include "midi/services/shortmessage.h"

#include <bitset>
#include <cstddef>

class SoundingNotes {
public:
    void track(const ShortMessage& m)
    {
        const int channel = m.status & 0x0F;
        switch (m.status & 0xF0) {
        case 0x90:
            notes_.set(index(channel, m.data1), m.data2 != 0);
            break;
        case 0x80:
            notes_.reset(index(channel, m.data1));
            break;
        case 0xB0:
            if (m.data1 == kAllSoundOff || m.data1 == kAllNotesOff)
                for (int note = 0; note < 128; ++note)
                    notes_.reset(index(channel, note));
            break;
        default:
            break;
        }
    }
    bool sounding(int channel, int note) const { return notes_.test(index(channel, note)); }
    // Calls `noteOff(status, note)` for every note still sounding.
    template <typename F>
    void forEachSounding(F&& noteOff) const
    {
        for (std::size_t i = 0; i < notes_.size(); ++i)
            if (notes_.test(i))
                noteOff(std::uint8_t(0x80 + i / 128), std::uint8_t(i % 128));
    }

private:
    static constexpr int kAllSoundOff = 120;
    static constexpr int kAllNotesOff = 123;
    static std::size_t index(int channel, int note) { return std::size_t(channel * 128 + note); }
    std::bitset<16 * 128> notes_;
};
