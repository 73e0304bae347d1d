#include "songs/dump.h"
#include "songs/instrumentnames.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace songs;
using namespace songtest;

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The listing, or the reason when the file cannot be dumped.
std::string dumped(const std::string& path, bool& ok)
{
    std::ostringstream out;
    std::string error;
    ok = DumpSong(path, out, error);
    return ok ? out.str() : error;
}

std::string header(const std::string& line)
{
    std::string bytes = line;
    bytes.resize(108, '\0');
    return bytes;
}

}  // namespace

TEST(SongDump, everyRecordIsListedWithItsMeaning)
{
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    writeBytes(path, header("\"\xd7\xd4\xd3\xc9\xb5\xaf\xd7\xe0\",\"\xd8\xfd\xc3\xfb\"\r\n") +
                         rawRecord("@TonD2    ") + rawRecord("@DiaZ1    ") + rawRecord("@YinL127  ") +
                         rawRecord("@YueQ12   ") + rawRecord("@YinG36   ") + rawRecord("@XiaYTrue ") +
                         rawRecord("@YinC100  ") + rawRecord("@TonD1    ") + rawRecord("@XiaYFalse") +
                         rawRecord("@DiaZ15   ") + rawRecord("@YueQ200  ") + rawRecord("@TonD3    ") +
                         rawRecord("@Hmm 7    ") + rawRecord("24   5    ") + rawRecord("26   0    ") +
                         rawRecord("28   1    ") + rawRecord("@END 0    ") + rawRecord("30   10   "));
    bool ok = false;
    const auto got = lines(dumped(path, ok));
    EXPECT_TRUE(ok);
    const std::vector<std::string> expected = {
        "title: \"自由弹奏\"",
        "author: \"佚名\"",
        "size: 324 bytes",
        "slot 10: \"@TonD\" \"2    \"  upper keyboard",
        "slot 11: \"@DiaZ\" \"1    \"  key C#",
        "slot 12: \"@YinL\" \"127  \"  volume 127",
        "slot 13: \"@YueQ\" \"12   \"  instrument 12 立奏木琴",
        "slot 14: \"@YinG\" \"36   \"  pitch 36",
        "slot 15: \"@XiaY\" \"True \"  silencer on",
        "slot 16: \"@YinC\" \"100  \"  note length 100",
        "slot 17: \"@TonD\" \"1    \"  lower keyboard",
        "slot 18: \"@XiaY\" \"False\"  silencer off",
        "slot 19: \"@DiaZ\" \"15   \"  key 15",
        "slot 20: \"@YueQ\" \"200  \"  instrument 200",
        "slot 21: \"@TonD\" \"3    \"  keyboard unchanged (3 selects none)",
        "slot 22: \"@Hmm \" \"7    \"  unknown setting, skipped",
        "slot 23: \"24   \" \"5    \"  key 24, next after 5 ticks",
        "slot 24: \"26   \" \"0    \"  key 26, next in the same tick",
        "slot 25: \"28   \" \"1    \"  key 28, next after 1 tick",
        "slot 26: \"@END \" \"0    \"  end of song",
        "after the end marker: 1 more slot, not listed",
        "playback: ends at slot 26 (end marker)",
    };
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(got[i], expected[i]) << "line " << i;
}

TEST(SongDump, damageIsShownWhereItIsAndTheFirstEndsThePlayback)
{
    TempDir dir;
    const std::string path = dir.file("s.hbk");
    const std::string bytes = header("\"a\"\"b\r\n") + rawRecord("24   1    ") +
                              rawRecord(std::string("\xb2\xe2\"\\\x01", 5) + "3    ") + rawRecord("@YinL99999") +
                              std::string("\x0a\x00" "12", 4);
    writeBytes(path, bytes);
    bool ok = false;
    const auto got = lines(dumped(path, ok));
    EXPECT_TRUE(ok);
    const std::vector<std::string> expected = {
        "title: \"a\"",
        "author: \"\"",
        "size: 148 bytes",
        "slot 10: \"24   \" \"1    \"  key 24, next after 1 tick",
        "slot 11: \"\\xB2\\xE2\\\"\\\\\\x01\" \"3    \"  damaged: tag is neither a setting nor a key number",
        "slot 12: \"@YinL\" \"99999\"  damaged: value does not fit 16 bits",
        "slot 13: damaged: record cut short (4 of 12 bytes)",
        "playback: stops at slot 11: tag is neither a setting nor a key number",
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(readBytes(path), bytes);  // dumping never writes

    // No end marker, no records, not even a header.
    writeBytes(path, header("\"t\",\"a\"\r\n") + rawRecord("24   1    "));
    auto text = lines(dumped(path, ok));
    EXPECT_EQ(text.back(), "playback: records run out after slot 10 without an end marker");
    writeBytes(path, "\"t\",\"a\"\r\n");
    text = lines(dumped(path, ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(text, (std::vector<std::string>{"title: \"t\"", "author: \"a\"", "size: 9 bytes",
                                              "header: the file ends inside the header, before slot 10",
                                              "playback: no records, ends at once"}));

    const std::string missing = dumped(dir.file("missing.hbk"), ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(missing, "cannot open " + dir.file("missing.hbk") + ": No such file or directory");
    EXPECT_EQ(dumped(dir.path(), ok), "cannot open " + dir.path() + ": is a folder");
}

TEST(InstrumentNames, namesStandAtTheirProgramNumbers)
{
    EXPECT_STREQ(InstrumentName(0), "平台钢琴");
    EXPECT_STREQ(InstrumentName(3), "叮当琴");
    EXPECT_STREQ(InstrumentName(12), "立奏木琴");
    EXPECT_STREQ(InstrumentName(53), "（喔）语音 ");
    EXPECT_STREQ(InstrumentName(68), "双簧管 ");
    EXPECT_STREQ(InstrumentName(112), "叮当琴");
    EXPECT_STREQ(InstrumentName(127), "模拟声-枪声");
    EXPECT_STREQ(InstrumentName(128), "");
    EXPECT_STREQ(InstrumentName(-1), "");
    EXPECT_STREQ(KeyShortName(0), "C");
    EXPECT_STREQ(KeyShortName(1), "C#");
    EXPECT_STREQ(KeyShortName(11), "B");
    EXPECT_STREQ(KeyShortName(12), "");
    EXPECT_STREQ(kToneNames[2], "D     调             ");
}
