// A MIDI file's notes made into a song's records: which part plays which
// keyboard, with what settings, and when the player strikes each group.
#include "songs/midiimport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace songs;

namespace {

using Body = std::vector<std::pair<std::string, std::string>>;

SmfNote note(double ms, int channel, int n, int velocity = 100)
{
    return {ms, std::uint8_t(channel), std::uint8_t(n), std::uint8_t(velocity)};
}

ImportedSong make(const SmfSong& midi)
{
    ImportedSong song;
    std::string error;
    EXPECT_TRUE(MakeSong(midi, "file name", song, error)) << error;
    return song;
}

}  // namespace

TEST(MidiImport, groupsAreStruckAtTheirTicksAndASwitchCostsOne)
{
    SmfSong midi;
    // Lower: keys at 0 and 100 ms; upper at 104 and 300 ms (pitch 36 on both).
    midi.notes = {note(0, 0, 60), note(100, 0, 62), note(104, 1, 64), note(300, 1, 65), note(300, 1, 67)};
    const ImportedSong song = make(midi);
    // The upper group due at tick 10 follows the lower one at once: the
    // switch takes the tick, so it sounds at 11; the next comes on time at 30.
    EXPECT_EQ(song.body, (Body{{"24", "10"}, {"26", "0"}, {"@TonD", "2"}, {"28", "19"}, {"29", "0"}, {"31", "10"},
                               {"@END ", "0"}}));
    EXPECT_EQ(song.notes, 5);
    EXPECT_EQ(song.title, "file name");
}

TEST(MidiImport, twoPartsStrikingTogetherEveryTickStayWithinATickOfTheirTimes)
{
    // Both hands strike every 10 ms, then pause, then strike together every
    // 20 ms: a keyboard a tick, so half the notes go a tick early or late,
    // and none further, however long it lasts.
    SmfSong midi;
    std::vector<std::pair<int, int>> want;  // (tick, keyboard * 100 + key) of each note
    for (int i = 0; i < 120; ++i) {
        const int tick = i < 60 ? i : 100 + 2 * i;
        for (const int channel : {0, 1}) {
            midi.notes.push_back(note(tick * 10.0, channel, 60 + (i % 5) + channel * 12));
            want.push_back({tick, (channel + 1) * 100 + 24 + (i % 5) + channel * 12});
        }
    }
    const ImportedSong song = make(midi);
    // The player's clock: a note's value is the wait to the next record read,
    // and a keyboard switch takes a tick.
    std::vector<std::pair<int, int>> struck;
    int tick = 0, keyboard = 1;
    for (const auto& [tag, value] : song.body) {
        if (tag == "@TonD") {
            keyboard = std::stoi(value);
            ++tick;
        } else if (tag[0] != '@') {
            struck.push_back({tick, keyboard * 100 + std::stoi(tag)});
            tick += std::stoi(value);
        }
    }
    ASSERT_EQ(struck.size(), want.size());
    for (const auto& [at, key] : want) {
        const auto near = std::find_if(struck.begin(), struck.end(),
                                       [&](const auto& s) { return s.second == key && std::abs(s.first - at) <= 1; });
        EXPECT_NE(near, struck.end()) << "key " << key << " due at tick " << at;
    }
}

TEST(MidiImport, theLowerChannelPlaysTheLowerKeyboardWithItsOwnSettings)
{
    SmfSong midi;
    midi.name = "\xB2\xE2\xCA\xD4";  // "测试" in GBK, as Chinese tools write it
    midi.programs = {{0, 4, 40}, {0, 2, 5}, {5000, 4, 50}};
    for (int i = 0; i < 8; ++i)
        midi.notes.push_back(note(i * 500.0, 4, 30 + i, i < 5 ? 60 : 100));  // more notes, the higher channel
    midi.notes.push_back(note(250, 2, 90));
    midi.notes.push_back(note(750, 2, 95, 30));
    midi.notes.push_back(note(800, 9, 36));  // drums
    midi.notes.push_back(note(900, 7, 70));  // a third part, the smallest
    const ImportedSong song = make(midi);
    EXPECT_EQ(song.title, "测试");
    // Channel 2 is lower: the lower keyboard, though it has fewer notes.
    EXPECT_EQ(song.lower.instrument, 5);
    EXPECT_EQ(song.upper.instrument, 40);  // the program at its first note, not the later one
    EXPECT_EQ(song.upper.intensity, 60);   // the median velocity
    EXPECT_EQ(song.lower.pitch, 36);       // 90 and 95 lie on 36 .. 100
    EXPECT_EQ(song.upper.pitch, 24);       // 30 .. 37: 24 takes them all, and is nearest the own 24
    EXPECT_FALSE(song.lower.silencer);
    EXPECT_FALSE(song.upper.silencer);
    const auto said = [&](const char* what) {
        for (const auto& n : song.notices)
            if (n.find(what) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(said("drums"));
    EXPECT_TRUE(said("1 more part"));
    EXPECT_FALSE(said("moved"));
}

TEST(MidiImport, notesBeyondTheKeysMoveByOctaves)
{
    SmfSong midi;
    // 0 .. 127: every stop holds 65 of them; of equals, the keyboard's own 36.
    for (int n = 0; n < 128; ++n)
        midi.notes.push_back(note(n * 10.0, 0, n));
    const ImportedSong song = make(midi);
    EXPECT_EQ(song.lower.pitch, 36);
    for (const auto& [tag, value] : song.body) {
        if (tag[0] == '@')
            continue;
        EXPECT_GE(std::stoi(tag), 0);
        EXPECT_LE(std::stoi(tag), 64);
    }
    EXPECT_EQ(song.body.front(), (std::pair<std::string, std::string>{"0", "1"}));  // note 0 + 3 octaves = 36
    bool moved = false;
    for (const auto& n : song.notices)
        moved = moved || n.find("note(s) were moved by octaves") != std::string::npos;
    EXPECT_TRUE(moved);
}

TEST(MidiImport, aFileWithoutPlayableNotesIsRefused)
{
    SmfSong midi;
    ImportedSong song;
    std::string error;
    EXPECT_FALSE(MakeSong(midi, "x", song, error));
    EXPECT_EQ(error, "the MIDI file holds no notes");
    midi.notes = {note(0, 9, 36)};
    EXPECT_FALSE(MakeSong(midi, "x", song, error));
    EXPECT_NE(error.find("only drums"), std::string::npos);
}

TEST(MidiImport, aNoteStruckLateIsReleasedBeforeItsKeyIsStruckAgain)
{
    // Both parts start together, so the upper one goes a tick late; its
    // first note, as long as the gap to its next, must not be released
    // after that next strike of the same key, which it would cut off.
    SmfSong midi;
    midi.notes = {note(0, 0, 48), note(0, 1, 60), note(670, 1, 60), note(1340, 1, 60)};
    for (SmfNote& n : midi.notes)
        n.lengthMs = n.channel == 0 ? 2000 : 670;
    const ImportedSong song = make(midi);
    std::string order;  // of the upper keyboard's key 24 (note 60): strikes and releases
    for (const auto& [tag, value] : song.body)
        order += tag == "24" ? "s" : tag == "@R224" ? "r" : "";
    EXPECT_EQ(order, "srsrsr");
}
