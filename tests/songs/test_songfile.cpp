#include "songs/songfile.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace songs;
using namespace songtest;

namespace {
std::string bytesOf(const std::array<char, kSlotSize>& a) { return std::string(a.data(), a.size()); }
}  // namespace

TEST(SongFile, encodeRecordGivesTheFormatsBytes)
{
    // Instrument 12 and key 24 followed by a 5-tick pause.
    EXPECT_EQ(bytesOf(EncodeRecord("@YueQ", "12")),
              std::string("\x0a\x00\x40\x59\x75\x65\x51\x31\x32\x20\x20\x20", 12));
    EXPECT_EQ(bytesOf(EncodeRecord("24", "5")),
              std::string("\x0a\x00\x32\x34\x20\x20\x20\x35\x20\x20\x20\x20", 12));
    // Padded to five and cut at five.
    EXPECT_EQ(bytesOf(EncodeRecord("@END", "0")), rawRecord("@END 0    "));
    EXPECT_EQ(bytesOf(EncodeRecord("@XiaY", "True")), rawRecord("@XiaYTrue "));
    EXPECT_EQ(bytesOf(EncodeRecord("@TooLong", "123456")), rawRecord("@TooL12345"));
    EXPECT_EQ(bytesOf(EncodeRecord("", "")), rawRecord("          "));
}

TEST(SongFile, valueNumberIsTheLeadingDecimalNumber)
{
    struct Case {
        const char* field;
        bool fits;
        int number;
    };
    const Case cases[] = {
        {"10   ", true, 10},  {"0    ", true, 0},      {"True ", true, 0},    {"False", true, 0},
        {"-12  ", true, -12}, {"-9999", true, -9999},  {"99999", false, 0},   {"32767", true, 32767},
        {"32768", false, 0},  {"12.5 ", true, 12},     {"13.5 ", true, 14},   {"12.51", true, 13},
        {"-2.5 ", true, -2},  {"-3.5 ", true, -4},     {"0.49 ", true, 0},    {".5   ", true, 0},
        {"  7  ", true, 7},   {"5x   ", true, 5},      {"+8   ", true, 8},   {"-    ", true, 0},
        {"     ", true, 0},   {"\xb2\xe2\xca\xd4 ", true, 0},
    };
    for (const Case& c : cases) {
        std::int16_t n = 99;
        EXPECT_EQ(LeadingNumber(c.field, n), c.fits) << c.field;
        if (c.fits) {
            EXPECT_EQ(n, c.number) << c.field;
        }
    }
}

TEST(SongFile, keyNumberWantsNothingButANumber)
{
    std::int16_t k = -1;
    EXPECT_TRUE(KeyNumber("24   ", k));
    EXPECT_EQ(k, 24);
    EXPECT_TRUE(KeyNumber(" 3   ", k));
    EXPECT_EQ(k, 3);
    EXPECT_TRUE(KeyNumber("2.5  ", k));
    EXPECT_EQ(k, 2);
    for (const char* bad : {"     ", "24x  ", "abc  ", "\xff\xfe\x80\x81\x82", "99999"})
        EXPECT_FALSE(KeyNumber(bad, k)) << bad;
    EXPECT_FALSE(KeyNumber(std::string_view("1\0   ", 5), k));
}

TEST(SongFile, recordsAreWrittenInPlaceAndReadBack)
{
    TempDir dir;
    const std::string path = dir.file("song.hbk");
    SongFile file;
    ASSERT_TRUE(file.openForRecords(path, true));
    // Slot 12 of an empty file: the file grows to the end of that slot.
    ASSERT_TRUE(file.writeRecord(12, "@YueQ", "12"));
    EXPECT_EQ(file.fileSize(), 12 * kSlotSize);
    ASSERT_TRUE(file.writeRecord(10, "24", "10"));
    ASSERT_TRUE(file.writeRecord(10, "24", "5"));  // a rewrite replaces the record
    // The header slots are not records.
    EXPECT_FALSE(file.writeRecord(9, "@END", "0"));
    EXPECT_FALSE(file.writeRecord(0, "@END", "0"));

    Record r;
    ASSERT_EQ(file.readRecord(10, r), ReadStatus::Ok);
    EXPECT_EQ(r.tag, "24   ");
    EXPECT_EQ(r.value, "5    ");
    EXPECT_EQ(r.number, 5);
    EXPECT_FALSE(r.isSetting());
    ASSERT_EQ(file.readRecord(12, r), ReadStatus::Ok);
    EXPECT_EQ(r.tag, "@YueQ");
    EXPECT_EQ(r.number, 12);
    EXPECT_TRUE(r.isSetting());
    EXPECT_EQ(file.readRecord(13, r), ReadStatus::Missing);
    EXPECT_EQ(file.readRecord(0, r), ReadStatus::Missing);

    // Consecutive records in one write: slot 12 is rewritten, 13 and 14 added.
    ASSERT_TRUE(file.writeRecords(12, {{"24", "7"}, {"26", "10"}, {"@END", "0"}}));
    EXPECT_FALSE(file.writeRecords(9, {{"24", "7"}, {"26", "10"}}));  // would start in the header
    EXPECT_FALSE(file.writeRecords(15, {}));
    file.close();
    EXPECT_EQ(readBytes(path).substr(9 * kSlotSize), rawRecord("24   5    ") + std::string(12, '\0') +
                                                         rawRecord("24   7    ") + rawRecord("26   10   ") +
                                                         rawRecord("@END 0    "));

    // A read-only file cannot take records.
    SongFile reader;
    ASSERT_TRUE(reader.openForReading(path));
    EXPECT_FALSE(reader.writeRecord(10, "1", "1"));
    EXPECT_FALSE(reader.openForReading(dir.path()));
    EXPECT_FALSE(reader.openForReading(dir.file("missing.hbk")));
    EXPECT_EQ(reader.readRecord(10, r), ReadStatus::IoError);
}

TEST(SongFile, damagedRecordsReadAsTheirFault)
{
    TempDir dir;
    const std::string path = dir.file("bad.hbk");
    // Length bytes are ignored; a value too big for 16 bits fails; the last
    // record is cut short.
    writeBytes(path, std::string(kHeaderBytes, '\0') + "\xff\xff" "@YinL99999" + rawRecord("@YinL-9999") +
                         rawRecord("\xb2\xe2\xca\xd4\xff" "7    ") + std::string("\x0a\x00" "12", 4));
    SongFile file;
    ASSERT_TRUE(file.openForReading(path));
    Record r;
    EXPECT_EQ(file.readRecord(10, r), ReadStatus::BadNumber);
    EXPECT_EQ(r.tag, "@YinL");
    EXPECT_EQ(r.value, "99999");
    ASSERT_EQ(file.readRecord(11, r), ReadStatus::Ok);
    EXPECT_EQ(r.number, -9999);
    ASSERT_EQ(file.readRecord(12, r), ReadStatus::Ok);
    EXPECT_EQ(r.tag, "\xb2\xe2\xca\xd4\xff");
    EXPECT_EQ(r.number, 7);
    EXPECT_EQ(file.readRecord(13, r), ReadStatus::Short);
    EXPECT_EQ(file.readRecord(14, r), ReadStatus::Missing);
}

TEST(SongFile, headerLineIsQuotedGbkAndReadsBack)
{
    TempDir dir;
    const std::string path = dir.file("h.hbk");
    ASSERT_TRUE(WriteHeaderLine(path, "自由弹奏", "佚名"));
    EXPECT_EQ(readBytes(path), "\"\xd7\xd4\xd3\xc9\xb5\xaf\xd7\xe0\",\"\xd8\xfd\xc3\xfb\"\r\n");
    std::string title, author;
    ASSERT_TRUE(ReadHeaderLine(path, title, author));
    EXPECT_EQ(title, "自由弹奏");
    EXPECT_EQ(author, "佚名");

    // Twenty two-byte characters on each side: 87 bytes, ahead of slot 10.
    const std::string twenty = "一二三四五六七八九十一二三四五六七八九十";
    ASSERT_TRUE(WriteHeaderLine(path, twenty, twenty));
    EXPECT_EQ(readBytes(path).size(), 87u);
    SongFile file;
    ASSERT_TRUE(file.openForRecords(path, false));
    ASSERT_TRUE(file.writeRecord(kFirstRecordSlot, "@TonD", "2"));
    file.close();
    const std::string bytes = readBytes(path);
    EXPECT_EQ(bytes.size(), 120u);
    EXPECT_EQ(bytes.substr(87, 21), std::string(21, '\0'));  // never written, zero on a fresh file
    ASSERT_TRUE(ReadHeaderLine(path, title, author));
    EXPECT_EQ(title, twenty);
    EXPECT_EQ(author, twenty);

    // Longer fields are cut to twenty characters, so the line stays ahead of slot 10.
    ASSERT_TRUE(WriteHeaderLine(path, twenty + "多余", std::string(30, 'a')));
    ASSERT_TRUE(ReadHeaderLine(path, title, author));
    EXPECT_EQ(title, twenty);
    EXPECT_EQ(author, std::string(20, 'a'));
}

TEST(SongFile, headerLineNeverBreaksOnItsText)
{
    TempDir dir;
    const std::string path = dir.file("h.hbk");
    std::string title, author;
    // A double quote becomes the full-width quote, a line break a blank,
    // and what GBK cannot hold (here a Hangul syllable, an emoji, a broken
    // UTF-8 byte) a question mark.
    ASSERT_TRUE(WriteHeaderLine(path, "say \"hi\", ok", "a\r\nb\xed\x95\x9c\xf0\x9f\x8e\xb9\xff"));
    EXPECT_EQ(readBytes(path), "\"say \xa3\xa2hi\xa3\xa2, ok\",\"a  b???\"\r\n");
    ASSERT_TRUE(ReadHeaderLine(path, title, author));
    EXPECT_EQ(title, "say ＂hi＂, ok");
    EXPECT_EQ(author, "a  b???");

    ASSERT_TRUE(WriteHeaderLine(path, "", ""));
    EXPECT_EQ(readBytes(path), "\"\",\"\"\r\n");
    ASSERT_TRUE(ReadHeaderLine(path, title, author));
    EXPECT_EQ(title, "");
    EXPECT_EQ(author, "");

    EXPECT_FALSE(WriteHeaderLine(dir.file("no/such/folder.hbk"), "a", "b"));

    // An empty header is a header; a file without one says so.
    for (const std::string& bytes : {std::string(), std::string("no header here"), std::string(120, '\0'),
                                     std::string("\"only a title\"\r\n,\"x\"")}) {
        writeBytes(path, bytes);
        EXPECT_FALSE(ReadHeaderLine(path, title, author)) << bytes;
    }
}

TEST(SongFile, headerBytesAreTheSameOnEverySystem)
{
    // What both systems' tables hold alike (the euro sign at 0x80, marks and
    // full-width forms among them), and what no system writes: a private-use
    // character (Windows has them for the user-defined pairs), a tag character
    // (which iconv drops without a byte), an emoji.
    TempDir dir;
    const std::string path = dir.file("h.hbk");
    ASSERT_TRUE(WriteHeaderLine(path, "小星星€·—～", "张三\uE000\U000E0041😀"));
    EXPECT_EQ(readBytes(path), readBytes(dataFile("header_gbk.hbk")));
    std::string title, author;
    ASSERT_TRUE(ReadHeaderLine(path, title, author));
    EXPECT_EQ(title, "小星星€·—～");
    EXPECT_EQ(author, "张三???");
    // A user-defined pair reads as no character, as do bytes that are none.
    EXPECT_EQ(GbkToUtf8("\xAA\xA1\x80\xFF\xA1"), "\uFFFD\uFFFD€\uFFFD\uFFFD");
    EXPECT_EQ(GbkToUtf8("\xFE\xFE" "a\xD0\xA1"), "\uFFFD\uFFFDa小");
}

TEST(SongFile, headerReadingToleratesForeignLines)
{
    struct Case {
        std::string bytes;
        const char* title;
        const char* author;
        bool twoFields;
    };
    const Case cases[] = {
        {"", "", "", false},
        {"plain title, plain author  \r\n", "plain title", "plain author", true},
        {"\"only one\"\r\n\"not this\",\"nor this\"", "only one", "", false},
        {"no separators at all", "no separators at all", "", false},
        {"\"a\"b\",\"c\"\r\n", "a", "c", true},           // a quote inside a quoted field ends it
        {"\"unclosed, title", "unclosed, title", "", false},
        {"  \"x\" , \"y\"", "x", "y", true},
        {"\"\xd7\xd4\xff\xd3\",\"\x81\"\r\n", "自\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD", true},  // not GBK
        {"\"t\",\"a\"" + std::string(200, 'z'), "t", "a", true},
        {std::string("\"t\0x\",\"a\"", 9), "t", "", false},  // the line ends at the first zero byte
    };
    TempDir dir;
    const std::string path = dir.file("h.hbk");
    for (const Case& c : cases) {
        writeBytes(path, c.bytes);
        std::string title = "old", author = "old";
        EXPECT_EQ(ReadHeaderLine(path, title, author), c.twoFields) << c.bytes;  // whether it is a header at all
        EXPECT_EQ(title, c.title) << c.bytes;
        EXPECT_EQ(author, c.author) << c.bytes;
    }

    // Only the header slots are read: a line without an end stops at byte 108.
    std::string title = "old", author = "old";
    writeBytes(path, "\"" + std::string(150, 'q') + "\",\"a\"");
    EXPECT_FALSE(ReadHeaderLine(path, title, author));  // its comma lies beyond
    EXPECT_EQ(title, std::string(107, 'q'));
    EXPECT_EQ(author, "");

    EXPECT_FALSE(ReadHeaderLine(dir.file("missing.hbk"), title, author));
    EXPECT_EQ(title, "");
    EXPECT_EQ(author, "");
    EXPECT_FALSE(ReadHeaderLine(dir.path(), title, author));
}

namespace {

// A disk whose sync the test holds up until it lets go.
class HeldDisk {
public:
    HeldDisk()
    {
        SetDataSyncForTesting([this](int) {
            std::unique_lock<std::mutex> lock(mutex_);
            ++started_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
            ++done_;
            return ok_;
        });
    }
    ~HeldDisk()
    {
        release();
        SetDataSyncForTesting(nullptr);
    }
    void release(bool ok = true)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        ok_ = ok;
        changed_.notify_all();
    }
    void waitForSyncToStart()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return started_ > 0; });
    }
    int done()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool ok_ = true;
    int started_ = 0;
    int done_ = 0;
};

}  // namespace

TEST(SongFile, aWriteNeverWaitsOnTheDiskButCloseDoes)
{
    TempDir dir;
    const std::string path = dir.file("song.hbk");
    writeBytes(path, std::string(kHeaderBytes, '\0'));
    HeldDisk disk;
    SongFile file;
    ASSERT_TRUE(file.openForRecords(path, false));
    // The disk is stuck, yet every write returns and is in the file at once
    // (a program killed now keeps them).
    ASSERT_TRUE(file.writeRecord(10, "24", "5"));
    disk.waitForSyncToStart();
    ASSERT_TRUE(file.writeRecord(11, "26", "10"));
    EXPECT_EQ(readBytes(path).substr(kHeaderBytes), rawRecord("24   5    ") + rawRecord("26   10   "));
    EXPECT_EQ(disk.done(), 0);

    // Closing waits until the disk has everything.
    std::thread closer([&] { file.close(); });
    disk.release();
    closer.join();
    EXPECT_GE(disk.done(), 2);  // the one held up, then the last records
    EXPECT_FALSE(file.isOpen());
}

TEST(SongFile, aDiskThatRefusesTheSyncFailsTheNextWrite)
{
    TempDir dir;
    const std::string path = dir.file("song.hbk");
    writeBytes(path, std::string(kHeaderBytes, '\0'));
    HeldDisk disk;
    disk.release(false);
    SongFile file;
    ASSERT_TRUE(file.openForRecords(path, false));
    ASSERT_TRUE(file.writeRecord(10, "24", "5"));
    EXPECT_FALSE(file.flush());
    EXPECT_FALSE(file.writeRecord(11, "26", "10"));  // the recording then ends
}
