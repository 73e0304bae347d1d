// The notes in a controller's byte stream: running status, note-ons of
// velocity 0, and the system messages that may come between.
#include "midi/midiinparser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string notes(const std::vector<std::uint8_t>& bytes, MidiInParser* keep = nullptr)
{
    MidiInParser local;
    MidiInParser& parser = keep ? *keep : local;
    std::string out;
    parser.feed(bytes.data(), bytes.size(), [&](const MidiNote& n) {
        out += (out.empty() ? "" : " ") + std::string(n.on ? "on" : "off") + std::to_string(n.channel) + ":" +
               std::to_string(n.note) + "/" + std::to_string(n.velocity);
    });
    return out;
}

}  // namespace

TEST(MidiInParser, runningStatusAndVelocityZero)
{
    EXPECT_EQ(notes({0x90, 60, 100, 64, 90, 60, 0, 64, 0}), "on0:60/100 on0:64/90 off0:60/0 off0:64/0");
    EXPECT_EQ(notes({0x81, 60, 40, 62, 0}), "off1:60/0 off1:62/0");
    // Other channel messages keep their own running status and play nothing.
    EXPECT_EQ(notes({0xB0, 7, 100, 10, 64, 0xC3, 5, 6, 0x92, 50, 1}), "on2:50/1");
}

TEST(MidiInParser, systemMessagesInBetween)
{
    // A clock flood, also inside a note's bytes: nothing struck twice or lost.
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 200; ++i)
        stream.push_back(0xF8);
    stream.insert(stream.end(), {0x90, 0xF8, 60, 0xFE, 100, 0xF8, 62, 0xF8, 101});
    EXPECT_EQ(notes(stream), "on0:60/100 on0:62/101");
    // A system exclusive ends a running status; its bytes are no notes.
    EXPECT_EQ(notes({0x90, 60, 100, 0xF0, 0x7E, 60, 100, 0x7F, 0xF7, 62, 100, 0x90, 64, 100}), "on0:60/100 on0:64/100");
    // A system common message does so too.
    EXPECT_EQ(notes({0x91, 60, 100, 0xF2, 1, 2, 62, 100}), "on1:60/100");
    // Data with no status before it is nobody's.
    EXPECT_EQ(notes({60, 100, 0x90, 61, 100}), "on0:61/100");
}

TEST(MidiInParser, aMessageMayComeInPieces)
{
    MidiInParser parser;
    EXPECT_EQ(notes({0x90, 60}, &parser), "");
    EXPECT_EQ(notes({100}, &parser), "on0:60/100");
    EXPECT_EQ(notes({61}, &parser), "");
    EXPECT_EQ(notes({0}, &parser), "off0:61/0");
}
