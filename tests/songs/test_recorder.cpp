#include "songs/recorder.h"
#include "songs/takes.h"

#include "testutil.h"

#include "platform/testsystem.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace songs;
using namespace songtest;

namespace {

HalfSettings upperHalf()
{
    HalfSettings s;
    s.tone = 0;
    s.intensity = 127;
    s.instrument = 12;
    s.pitch = 36;
    s.silencer = true;
    s.mlong = 100;
    return s;
}

HalfSettings lowerHalf()
{
    HalfSettings s;
    s.tone = 2;
    s.intensity = 100;
    s.instrument = 0;
    s.pitch = 24;
    s.silencer = false;
    s.mlong = 250;
    return s;
}

std::string slotBytes(const std::string& file, int slot) { return file.substr((slot - 1) * kSlotSize, kSlotSize); }

}  // namespace

TEST(SongRecorder, headerOnlyRecordingMatchesTheExpectedBytes)
{
    TempDir dir;
    const std::string path = dir.file("~Mid.Dat");
    // An older, longer recording is replaced, not overwritten in part.
    writeBytes(path, std::string(1000, 'x'));

    SongRecorder rec;
    ASSERT_TRUE(rec.start(path, "自由弹奏", "佚名", upperHalf(), lowerHalf()));
    EXPECT_TRUE(rec.isOpen());
    EXPECT_EQ(rec.RecordNo, 23);
    EXPECT_EQ(rec.LastNoteRecord, -1);
    rec.stop();
    EXPECT_FALSE(rec.isOpen());
    EXPECT_EQ(rec.RecordNo, 24);

    const std::string expected = readBytes(dataFile("song_header_only.hbk"));
    ASSERT_EQ(expected.size(), 288u);
    EXPECT_EQ(readBytes(path), expected);

    // A second stop writes nothing more.
    rec.stop();
    EXPECT_EQ(readBytes(path), expected);
}

TEST(SongRecorder, notesCarryTheGapToTheNextKey)
{
    TempDir dir;
    const std::string path = dir.file("~Mid.Dat");
    SongRecorder rec;
    ASSERT_TRUE(rec.start(path, "t", "a", upperHalf(), lowerHalf()));
    ASSERT_TRUE(rec.writeSettingRecord(Tag::Keyboard, "1"));  // as the window does before the first key
    ASSERT_TRUE(rec.recordNote(24, 77));                // the gap before the first key is not kept
    EXPECT_EQ(rec.LastNoteRecord, 25);
    EXPECT_EQ(rec.LastKey, 24);
    EXPECT_EQ(slotBytes(readBytes(path), 25), rawRecord("24   10   "));

    ASSERT_TRUE(rec.recordNote(26, 5));   // the first note's 10 becomes 5
    ASSERT_TRUE(rec.recordNote(28, 0));   // a chord
    ASSERT_TRUE(rec.writeSettingRecord(Tag::Instrument, NumberText(40)));
    ASSERT_TRUE(rec.recordNote(29, 300));  // a long pause, as the window counts it
    rec.stop();

    const std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 30u * kSlotSize);
    EXPECT_EQ(slotBytes(bytes, 24), rawRecord("@TonD1    "));
    EXPECT_EQ(slotBytes(bytes, 25), rawRecord("24   5    "));
    EXPECT_EQ(slotBytes(bytes, 26), rawRecord("26   0    "));
    EXPECT_EQ(slotBytes(bytes, 27), rawRecord("28   300  "));
    EXPECT_EQ(slotBytes(bytes, 28), rawRecord("@YueQ40   "));
    EXPECT_EQ(slotBytes(bytes, 29), rawRecord("29   10   "));  // the last note keeps its 10
    EXPECT_EQ(slotBytes(bytes, 30), rawRecord("@END 0    "));
}

TEST(SongRecorder, aTakePlayedToTheMetronomeKeepsItsTempoAndMeterAfterTheHeader)
{
    TempDir dir;
    const std::string path = dir.file("~Mid.Dat");
    SongRecorder rec;
    ASSERT_TRUE(rec.start(path, "t", "a", upperHalf(), lowerHalf(), SongTime{96, 6, 8}));
    ASSERT_TRUE(rec.writeSettingRecord(Tag::Keyboard, "1"));
    ASSERT_TRUE(rec.recordNote(24, 0));
    rec.stop();
    const std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 28u * kSlotSize);
    EXPECT_EQ(slotBytes(bytes, 24), rawRecord("@SuDu96   "));
    EXPECT_EQ(slotBytes(bytes, 25), rawRecord("@PaiH6/8  "));
    EXPECT_EQ(slotBytes(bytes, 26), rawRecord("@TonD1    "));
    EXPECT_EQ(slotBytes(bytes, 27), rawRecord("24   10   "));
}

TEST(SongRecorder, recordingStopsCleanlyAtTheLastNoteSlot)
{
    TempDir dir;
    const std::string path = dir.file("~Mid.Dat");
    SongRecorder rec;
    ASSERT_TRUE(rec.start(path, "t", "a", upperHalf(), lowerHalf()));
    // Jump ahead instead of writing 32000 records.
    rec.RecordNo = kLastNoteSlot - 2;
    ASSERT_TRUE(rec.recordNote(10, 3));
    ASSERT_TRUE(rec.recordNote(11, 4));
    EXPECT_EQ(rec.LastNoteRecord, kLastNoteSlot);
    EXPECT_FALSE(rec.recordNote(12, 6));  // would lie past 32767
    EXPECT_EQ(rec.RecordNo, kLastNoteSlot);
    EXPECT_EQ(rec.LastNoteRecord, kLastNoteSlot);
    EXPECT_EQ(rec.LastKey, 11);
    // The end marker still fits behind it; the recording is complete.
    rec.stop();
    const std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), std::size_t(kLastNoteSlot + 1) * kSlotSize);
    EXPECT_EQ(slotBytes(bytes, kLastNoteSlot - 1), rawRecord("10   4    "));
    EXPECT_EQ(slotBytes(bytes, kLastNoteSlot), rawRecord("11   10   "));
    EXPECT_EQ(slotBytes(bytes, kLastNoteSlot + 1), rawRecord("@END 0    "));
}

TEST(SongRecorder, heldRecordsReachTheFileInOrderAtRelease)
{
    TempDir dir;
    const std::string path = dir.file("~Mid.Dat");
    SongRecorder rec;
    ASSERT_TRUE(rec.start(path, "t", "a", upperHalf(), lowerHalf()));
    ASSERT_TRUE(rec.recordNote(24, 0));
    const std::string before = readBytes(path);

    // A switch of halves and a note while held: nothing reaches the file yet.
    rec.holdWrites();
    ASSERT_TRUE(rec.writeSettingRecord(Tag::Keyboard, "2"));
    ASSERT_TRUE(rec.recordNote(31, 7));
    EXPECT_EQ(rec.RecordNo, 26);
    EXPECT_EQ(readBytes(path), before);
    ASSERT_TRUE(rec.releaseWrites());
    EXPECT_FALSE(rec.holding());
    const std::string after = readBytes(path);
    EXPECT_EQ(slotBytes(after, 24), rawRecord("24   7    "));  // the gap, rewritten
    EXPECT_EQ(slotBytes(after, 25), rawRecord("@TonD2    "));
    EXPECT_EQ(slotBytes(after, 26), rawRecord("31   10   "));

    // Stop writes what is held before its end marker.
    rec.holdWrites();
    ASSERT_TRUE(rec.recordNote(33, 4));
    rec.stop();
    const std::string stopped = readBytes(path);
    EXPECT_EQ(slotBytes(stopped, 26), rawRecord("31   4    "));
    EXPECT_EQ(slotBytes(stopped, 27), rawRecord("33   10   "));
    EXPECT_EQ(slotBytes(stopped, 28), rawRecord("@END 0    "));
}

TEST(SongRecorder, aHeldRecordTheFileRefusesLeavesItsSlotToTheEndMarker)
{
    TempDir dir;
    const std::string path = dir.file("~Mid.Dat");
    SongRecorder rec;
    ASSERT_TRUE(rec.start(path, "t", "a", upperHalf(), lowerHalf()));
    ASSERT_TRUE(rec.recordNote(24, 0));
    // The disk is full past slot 24.
    DiskFull full(24 * kSlotSize);
    if (!full.active())
        GTEST_SKIP() << "this system cannot limit the size of a file";
    rec.holdWrites();
    ASSERT_TRUE(rec.recordNote(26, 5));
    ASSERT_TRUE(rec.recordNote(28, 6));
    const bool released = rec.releaseWrites();
    full.lift();
    EXPECT_FALSE(released);
    // Counted only once written: the end marker goes where the first
    // refused new record would have been.
    EXPECT_EQ(rec.RecordNo, 24);
    rec.stop();
    const std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 25u * kSlotSize);
    EXPECT_EQ(slotBytes(bytes, 25), rawRecord("@END 0    "));
}

TEST(SongRecorder, failingStartLeavesNothingOpen)
{
    TempDir dir;
    SongRecorder rec;
    // A folder that does not exist, and a path that is a folder (cannot be deleted).
    EXPECT_FALSE(rec.start(dir.file("no/such/~Mid.Dat"), "t", "a", upperHalf(), lowerHalf()));
    EXPECT_FALSE(rec.isOpen());
    EXPECT_FALSE(rec.start(dir.path(), "t", "a", upperHalf(), lowerHalf()));
    EXPECT_FALSE(rec.isOpen());

    // Not recording: setting records fail, notes are quietly not written.
    EXPECT_FALSE(rec.writeSettingRecord(Tag::Instrument, "3"));
    EXPECT_TRUE(rec.recordNote(24, 5));
    rec.stop();
    EXPECT_FALSE(rec.isOpen());
}

// The Music folder may be shared: a link left in place of the lock file
// would have the program make or lock a file wherever the link points.
TEST(ScratchLock, aLinkInPlaceOfTheLockFileIsNotFollowed)
{
    TempDir dir;
    if (!MakeLink(dir.file("elsewhere"), dir.file("~Mid.Dat.lock")))
        GTEST_SKIP() << "this system does not let the user make a link";
    ScratchLock lock;
    EXPECT_FALSE(lock.tryLock(dir.file("~Mid.Dat")));
    EXPECT_FALSE(std::filesystem::exists(fsPath(dir.file("elsewhere"))));
}

TEST(SongRecorder, numberTagAndBoolTexts)
{
    // Every tag reads back from its stored field, padded or not; a key
    // number or a stranger's tag is no tag.
    for (const Tag t : {Tag::End, Tag::Keyboard, Tag::Tone, Tag::Intensity, Tag::Instrument, Tag::Pitch,
                        Tag::Silencer, Tag::Mlong})
        EXPECT_EQ(ParseTag(TagField(t)), t);
    EXPECT_EQ(ParseTag("@END"), Tag::End);
    EXPECT_EQ(ParseTag("24   "), std::nullopt);
    EXPECT_EQ(ParseTag("@Abcd"), std::nullopt);
    EXPECT_TRUE(BoolValue("True "));
    EXPECT_FALSE(BoolValue("true "));
    EXPECT_FALSE(BoolValue("False"));
    EXPECT_EQ(NumberText(0), "0");
    EXPECT_EQ(NumberText(-12), "-12");
    EXPECT_EQ(NumberText(32767), "32767");
    EXPECT_EQ(BoolText(true), "True");
    EXPECT_EQ(BoolText(false), "False");
}
