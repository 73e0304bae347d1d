#include "songs/player.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include "platform/testsystem.h"

#include <functional>
#include <vector>

using namespace songs;
using namespace songtest;

namespace {

// Writes down every call, one short line each.
class FakeHost : public PlaybackHost {
public:
    void playKey(std::int16_t key, std::int16_t nTime) override
    {
        calls.push_back("play " + std::to_string(key) + "/" + std::to_string(nTime));
        if (onPlay)
            onPlay();
    }
    void selectHalf(std::int16_t half) override { calls.push_back("half " + std::to_string(half)); }
    // The value as stored, so that "True " and "False" (both number 0) differ.
    void applySetting(const Record& r) override
    {
        std::string value = r.value;
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
        calls.push_back("set " + r.tag + " " + value);
    }
    bool settingsLocked() const override { return locked; }
    void setTimerEnabled(bool on) override
    {
        timer = on;
        calls.push_back(on ? "timer on" : "timer off");
    }
    void endOfPlayback() override
    {
        ++ends;
        calls.push_back("end");
    }

    // The calls since the last take, without the timer switching.
    std::vector<std::string> take(bool withTimer = false)
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            if (withTimer || c.rfind("timer", 0) != 0)
                out.push_back(c);
        calls.clear();
        return out;
    }

    std::vector<std::string> calls;
    bool locked = false;
    bool timer = true;
    int ends = 0;
    std::function<void()> onPlay;
};

using Lines = std::vector<std::string>;

// A song built by hand: a header line, then the given 10-character records from slot 10.
std::string song(const std::vector<std::string>& records)
{
    std::string bytes = "\"t\",\"a\"\r\n";
    bytes.resize(kHeaderBytes, '\0');
    for (const auto& r : records)
        bytes += rawRecord(r);
    return bytes;
}

}  // namespace

TEST(SongPlayer, headerOnlyRecordingSetsBothHalvesAndEndsAfterThreeTicks)
{
    SongPlayer player;
    FakeHost host;
    ASSERT_TRUE(player.start(dataFile("song_header_only.hbk")));
    EXPECT_EQ(player.RecordNo, 10);

    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"half 2"}));
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"set @DiaZ 0", "set @YinL 127", "set @YueQ 12", "set @YinG 36", "set @XiaY True",
                                  "set @YinC 100", "half 1"}));
    EXPECT_EQ(host.ends, 0);
    player.tick(host);
    EXPECT_EQ(host.take(true), (Lines{"set @DiaZ 2", "set @YinL 100", "set @YueQ 0", "set @YinG 24", "set @XiaY False",
                                      "set @YinC 250", "timer off", "end"}));
    EXPECT_EQ(player.RecordNo, 24);
    EXPECT_FALSE(player.isOpen());
}

TEST(SongPlayer, chordsSoundTogetherWithTheValueOfTheirLastKey)
{
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    writeBytes(path, song({"24   0    ", "28   0    ", "31   3    ", "@YueQ5    ", "36   0    ", "40   1    ",
                           "@END 0    "}));
    SongPlayer player;
    FakeHost host;
    ASSERT_TRUE(player.start(path));

    // The timer rests while the group is struck.
    player.tick(host);
    EXPECT_EQ(host.take(true), (Lines{"timer off", "play 24/3", "play 28/3", "play 31/3", "timer on"}));
    EXPECT_EQ(player.WaitTicks, 3);
    EXPECT_EQ(player.TickCount, 1);
    // The pause: ticks 2 and 3 only count.
    player.tick(host);
    player.tick(host);
    EXPECT_TRUE(host.take().empty());
    // A setting inside a chord is applied before the keys of its group.
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"set @YueQ 5", "play 36/1", "play 40/1"}));
    // Value 1: the next record is read at the very next tick.
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"end"}));
}

TEST(SongPlayer, aSeventyKeyChordIsSplitAfterSixtyFiveKeys)
{
    std::vector<std::string> records;
    for (int i = 0; i < 70; ++i) {
        std::string r = std::to_string(i % 65);
        records.push_back(r + std::string(5 - r.size(), ' ') + "0    ");
    }
    records.push_back("7    5    ");
    records.push_back("@END 0    ");
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    writeBytes(path, song(records));
    SongPlayer player;
    FakeHost host;
    ASSERT_TRUE(player.start(path));

    player.tick(host);
    Lines first = host.take();
    ASSERT_EQ(first.size(), 65u);
    for (int i = 0; i < 65; ++i)
        EXPECT_EQ(first[i], "play " + std::to_string(i) + "/0");
    EXPECT_EQ(player.WaitTicks, 0);

    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"play 0/5", "play 1/5", "play 2/5", "play 3/5", "play 4/5", "play 7/5"}));
    EXPECT_EQ(player.WaitTicks, 5);
    for (int i = 0; i < 4; ++i)
        player.tick(host);
    EXPECT_TRUE(host.take().empty());
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"end"}));
}

TEST(SongPlayer, lockedSettingsAreSkippedButHalvesAndEndStillWork)
{
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    writeBytes(path, song({"@TonD2    ", "@YueQ40   ", "@XiaYTrue ", "12   2    ", "@TonD1    ", "@YinL9    ",
                           "@Odd 4    ", "13   1    ", "@END 0    "}));
    SongPlayer player;
    FakeHost host;
    host.locked = true;
    ASSERT_TRUE(player.start(path));
    for (int i = 0; i < 8 && host.ends == 0; ++i)
        player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"half 2", "play 12/2", "half 1", "play 13/1", "end"}));

    // Unlocked, every setting other than the half and the end goes to the
    // host, which skips the tags it does not know.
    host.locked = false;
    ASSERT_TRUE(player.start(path));
    for (int i = 0; i < 8 && host.ends == 1; ++i)
        player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"half 2", "set @YueQ 40", "set @XiaY True", "play 12/2", "half 1", "set @YinL 9",
                                  "set @Odd  4", "play 13/1", "end"}));
}

TEST(SongPlayer, halfSwitchPlaysThePendingGroupFirst)
{
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    writeBytes(path, song({"20   4    ", "21   0    ", "22   0    ", "@TonD2    ", "23   2    ", "@TonD7    ",
                           "@END 0    "}));
    SongPlayer player;
    FakeHost host;
    ASSERT_TRUE(player.start(path));
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"play 20/4"}));
    for (int i = 0; i < 3; ++i)
        player.tick(host);
    // Keys 21 and 22 go to the half selected before the switch, with the
    // pause still in force; the switch ends the tick.
    player.tick(host);
    EXPECT_EQ(host.take(true), (Lines{"play 21/4", "play 22/4", "half 2"}));
    EXPECT_EQ(player.TickCount, 5);
    // TickCount is still not below WaitTicks: reading goes on at once.
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"play 23/2"}));
    player.tick(host);
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"half 7"}));  // the host leaves the half for values other than 1 and 2
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"end"}));
}

TEST(SongPlayer, playbackStoppedInAPauseWaitsForTheRestNextTime)
{
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    writeBytes(path, song({"30   300  ", "31   10   ", "@END 0    "}));
    SongPlayer player;
    FakeHost host;
    ASSERT_TRUE(player.start(path));
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"play 30/300"}));
    for (int i = 0; i < 99; ++i)
        player.tick(host);
    EXPECT_EQ(player.TickCount, 100);
    player.stop();
    EXPECT_FALSE(player.isOpen());

    // Started again: 200 ticks of the old pause go first, then slot 10.
    ASSERT_TRUE(player.start(path));
    EXPECT_EQ(player.RecordNo, 10);
    for (int i = 0; i < 200; ++i)
        player.tick(host);
    EXPECT_TRUE(host.take().empty());
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"play 30/300"}));
}

TEST(SongPlayer, anyFaultEndsThePlaybackAsTheEndMarkerDoes)
{
    TempDir dir;
    struct Case {
        std::string bytes;
        Lines calls;
    };
    const Case cases[] = {
        {"", {"end"}},                                                       // empty file
        {"\"t\",\"a\"\r\n", {"end"}},                                         // shorter than the header
        {song({"24   1    "}), {"play 24/1", "end"}},                        // records run out
        {song({"24   0    ", "@YinL99999"}), {"end"}},                       // value too big for 16 bits
        {song({"24   1    "}) + "\x0a\x00" "25 ", {"play 24/1", "end"}},     // last record cut short
        {song({"\xb2\xe2\xca\xd4\xff" "1    "}), {"end"}},                   // a tag of non-ASCII bytes
        {song({"@END10    "}), {"set @END1 0", "end"}},                       // "@END" alone is no end marker
        {song({"-3   1    ", "70   -2   ", "@END 0    "}), {"play -3/1", "play 70/-2", "end"}},  // the instrument clamps
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("s.hbk");
        writeBytes(path, c.bytes);
        SongPlayer player;
        FakeHost host;
        ASSERT_TRUE(player.start(path));
        for (int i = 0; i < 10 && host.ends == 0; ++i)
            player.tick(host);
        EXPECT_EQ(host.take(), c.calls) << testing::PrintToString(c.bytes);
        EXPECT_EQ(host.ends, 1);
        EXPECT_FALSE(host.timer);
        EXPECT_FALSE(player.isOpen());
        // Reading never changes the file.
        EXPECT_EQ(readBytes(path), c.bytes);
    }
}

TEST(SongPlayer, unopenableFileAndReentrantStopAreHandled)
{
    TempDir dir;
    SongPlayer player;
    FakeHost host;
    EXPECT_FALSE(player.start(dir.file("missing.hbk")));
    EXPECT_FALSE(player.start(dir.path()));
    // A pipe is no song, and opening it must not wait for a writer.
    const Pipe fifo(dir.file("pipe.hbk"));
    ASSERT_TRUE(fifo.made());
    EXPECT_FALSE(player.start(fifo.path()));
    std::string title, author;
    EXPECT_FALSE(ReadHeaderLine(fifo.path(), title, author));
    EXPECT_FALSE(player.isOpen());
    // A host that ticks anyway is ended at once, without counting.
    player.WaitTicks = 5;
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"end"}));
    EXPECT_EQ(player.TickCount, 0);

    // Stop pressed from inside a key strike: the tick goes no further.
    const std::string path = dir.file("s.hbk");
    writeBytes(path, song({"1    0    ", "2    0    ", "3    4    ", "@END 0    "}));
    player.WaitTicks = 0;
    ASSERT_TRUE(player.start(path));
    host.onPlay = [&] { player.stop(); };
    player.tick(host);
    EXPECT_EQ(host.take(true), (Lines{"timer off", "play 1/4"}));
    EXPECT_FALSE(player.isOpen());

    // Started twice: the second start begins again at slot 10.
    host.onPlay = nullptr;
    player.WaitTicks = 0;
    ASSERT_TRUE(player.start(path));
    ASSERT_TRUE(player.start(path));
    player.tick(host);
    EXPECT_EQ(host.take(), (Lines{"play 1/4", "play 2/4", "play 3/4"}));
}

// The host's calls that start with one of `kinds`, each with the tick it came at.
static Lines callsByTick(const std::string& path, FakeHost& host, std::initializer_list<const char*> kinds)
{
    SongPlayer player;
    EXPECT_TRUE(player.start(path));
    Lines out;
    for (int tick = 1; tick <= 12 && host.ends == 0; ++tick) {
        player.tick(host);
        for (const std::string& c : host.take())
            for (const char* kind : kinds)
                if (c.rfind(kind, 0) == 0)
                    out.push_back(std::to_string(tick) + " " + c);
    }
    return out;
}

TEST(SongPlayer, noteLengthRecordsKeepTheNoteOnsOfAPlayerThatSkipsThem)
{
    TempDir dir;
    const std::string plain = dir.file("plain.hbk"), held = dir.file("held.hbk");
    writeBytes(plain, song({"@TonD1    ", "24   5    ", "28   3    ", "@END 0    "}));
    writeBytes(held, song({"@TonD1    ", "24   5    ", "@P1D 1    ", "@R1242    ", "28   3    ", "@R1283    ",
                           "@P1U 3    ", "@END 0    "}));
    // A player that knows no lengths: the same keys at the same ticks; the
    // new records are settings it skips.
    FakeHost plainHost, heldHost;
    EXPECT_EQ(callsByTick(plain, plainHost, {"play"}), callsByTick(held, heldHost, {"play"}));

    // One that knows them: key 24 held and ended 2 ticks after its strike,
    // the pedal down at 1, key 28 ended 3 ticks after its own, the pedal up.
    struct LengthHost : FakeHost {
        void holdKey(std::int16_t key, std::int16_t) override { calls.push_back("hold " + std::to_string(key)); }
        void endKey(int keyboard, std::int16_t key) override
        {
            calls.push_back("end " + std::to_string(keyboard) + "/" + std::to_string(key));
        }
        void pedal(int keyboard, bool down) override
        {
            calls.push_back("pedal " + std::to_string(keyboard) + (down ? " down" : " up"));
        }
    } host;
    EXPECT_EQ(callsByTick(held, host, {"hold", "end ", "pedal"}),
              (Lines{"2 hold 24", "3 pedal 1 down", "4 end 1/24", "7 hold 28", "10 end 1/28", "10 pedal 1 up"}));
}
