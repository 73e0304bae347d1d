#include "songs/smf.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace songs;
using namespace songtest;

namespace {

// The messages behind tests/data/song_two_tracks.mid.
std::vector<TimedMessage> twoTrackSong()
{
    return {
        {0, kLowerTrack, 0x90, 60, 100},
        {-30, kLowerTrack, 0xC0, 5, 99},  // earlier than the start: at 0; one data byte
        {250, -1, 0x91, 72, 80},          // by channel: channel 1 is the upper keyboard
        {1000, kLowerTrack, 0x80, 60, 0},
        {1500, kUpperTrack, 0xF8, 0, 0},  // no channel message: left out
        {1995, kUpperTrack, 0x81, 72, 0},  // rounded to tick 200
    };
}

}  // namespace

TEST(Smf, twoTrackSongMatchesTheExpectedBytes)
{
    // The expected file has the program change first: messages of equal
    // times keep the order given.
    std::vector<TimedMessage> messages = twoTrackSong();
    std::swap(messages[0], messages[1]);
    const std::string expected = readBytes(dataFile("song_two_tracks.mid"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(BuildSmf(messages, "Song"), expected);

    // Given out of order, a track is put in time order.
    std::vector<TimedMessage> shuffled = messages;
    std::swap(shuffled[1], shuffled[3]);
    EXPECT_EQ(BuildSmf(shuffled, "Song"), expected);
}

TEST(Smf, writeReplacesTheTargetOnlyWhenComplete)
{
    TempDir dir;
    const std::string path = dir.file("song.mid");
    writeBytes(path, "old contents");
    ASSERT_TRUE(WriteSmf(path, twoTrackSong(), "Song"));
    EXPECT_EQ(readBytes(path).substr(0, 4), "MThd");
    // Nothing is left beside it.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fsPath(dir.path())))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);

    // A folder that does not exist: nothing written, nothing left.
    EXPECT_FALSE(WriteSmf(dir.file("no/such/song.mid"), twoTrackSong(), "Song"));
    // A target that cannot be replaced (a non-empty folder): the temp file goes away.
    const std::string blocked = dir.file("blocked.mid");
    std::filesystem::create_directory(fsPath(blocked));
    writeBytes(blocked + "/keep", "x");
    EXPECT_FALSE(WriteSmf(blocked, twoTrackSong(), "Song"));
    files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fsPath(dir.path())))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

TEST(Smf, anotherReaderParsesTheFile)
{
    constexpr const char* kPython = "/usr/bin/python3";
    if (!std::filesystem::exists(kPython) || std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-mido is not installed";
    TempDir dir;
    const std::string path = dir.file("song.mid");
    std::vector<TimedMessage> messages = twoTrackSong();
    // A long pause needs a delta of several bytes.
    messages.push_back({123456, kUpperTrack, 0x91, 64, 90});
    messages.push_back({123456, kUpperTrack, 0xB1, 7, 127});
    ASSERT_TRUE(WriteSmf(path, messages, "自由弹奏"));

    const std::string script = R"(
import sys, mido
m = mido.MidiFile(sys.argv[1])
assert m.type == 1 and m.ticks_per_beat == 50 and len(m.tracks) == 3, (m.type, m.ticks_per_beat)
c = m.tracks[0]
assert c[0].type == 'track_name' and c[0].name.encode('latin1').decode('utf-8') == '自由弹奏', c[0]
assert c[1].type == 'set_tempo' and c[1].tempo == 500000
def timed(track):
    t, out = 0, []
    for msg in track:
        t += msg.time
        out.append((t, msg.type) if msg.is_meta else (t, msg.bytes()))
    return out
lower, upper = timed(m.tracks[1]), timed(m.tracks[2])
assert lower == [(0, 'track_name'), (0, [0x90, 60, 100]), (0, [0xC0, 5]), (100, [0x80, 60, 0]), (12346, 'end_of_track')], lower
assert upper == [(0, 'track_name'), (25, [0x91, 72, 80]), (200, [0x81, 72, 0]), (12346, [0x91, 64, 90]), (12346, [0xB1, 7, 127]), (12346, 'end_of_track')], upper
assert abs(m.length - 123.46) < 1e-6, m.length
)";
    const std::string scriptPath = dir.file("check.py");
    writeBytes(scriptPath, script);
    const std::string command = std::string(kPython) + " " + scriptPath + " " + path;
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;  // exited, and with 0
}
