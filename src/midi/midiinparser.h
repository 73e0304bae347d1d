#pragma once
// The notes and the sustain pedal in a stream of MIDI bytes as a controller
// sends them: running
// status, a note-on of velocity 0 as a note-off, real-time bytes (clock,
// active sensing) anywhere, even inside a message, system exclusive skipped.
#include <cstddef>
#include <cstdint>

struct MidiNote {
    bool on;                // false: a note-off
    std::uint8_t channel;   // 0..15
    std::uint8_t note;
    std::uint8_t velocity;  // 0 for a note-off
    bool pedal = false;     // the sustain pedal (CC 64): `on` is down (value 64 or more)
};

class MidiInParser {
public:
    // Calls `take(const MidiNote&)` for every note-on, note-off and sustain
    // pedal move completed.
    template <typename Take>
    void feed(const std::uint8_t* bytes, std::size_t size, Take&& take)
    {
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t b = bytes[i];
            if (b >= 0xF8)
                continue;  // real time: neither a message of its own here nor an interruption
            if (b == 0xF0) {
                sysex_ = true;
                running_ = 0;
                continue;
            }
            if (b >= 0x80) {
                sysex_ = false;  // any status ends a system exclusive (0xF7 does so properly)
                // System common messages end a running status and carry no note.
                running_ = b < 0xF0 ? b : 0;
                have_ = 0;
                continue;
            }
            if (sysex_ || running_ == 0)
                continue;  // data of no message we take
            data_[have_++] = b;
            const int kind = running_ & 0xF0;
            const int needed = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            if (have_ < needed)
                continue;
            have_ = 0;  // the status stays: the next data bytes are a message of the same kind
            const std::uint8_t channel = running_ & 0x0F;
            if (kind == 0x90)
                take(MidiNote{data_[1] != 0, channel, data_[0], data_[1]});
            else if (kind == 0x80)
                take(MidiNote{false, channel, data_[0], 0});
            else if (kind == 0xB0 && data_[0] == kSustain)
                take(MidiNote{data_[1] >= 64, channel, data_[0], data_[1], true});
        }
    }

private:
    static constexpr std::uint8_t kSustain = 64;
    std::uint8_t running_ = 0;
    std::uint8_t data_[2] = {0, 0};
    int have_ = 0;
    bool sysex_ = false;
};
