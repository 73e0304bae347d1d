// Songs where a Chinese user keeps them (C:\Users\张三\音乐 on Windows): every
// path is UTF-8 to the library and must reach the system whole. Takes that
// never replace a file, and the scratch lock.
#include "songs/midiimport.h"
#include "songs/paths.h"
#include "songs/platform/files.h"
#include "songs/recorder.h"
#include "songs/smf.h"
#include "songs/songcopy.h"
#include "songs/takes.h"
#include "songs/wholefile.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

using namespace songs;
using namespace songtest;

namespace {

// A take of one key under `title`.
void recordOneKey(const std::string& scratch, const std::string& title)
{
    SongRecorder rec;
    ASSERT_TRUE(rec.start(scratch, title, "张三", HalfSettings{}, HalfSettings{}));
    ASSERT_TRUE(rec.writeSettingRecord(Tag::Keyboard, "1"));
    ASSERT_TRUE(rec.recordNote(24, 0));
    ASSERT_TRUE(rec.stop());
}

}  // namespace

TEST(SongFiles, aSongUnderChineseFoldersIsRecordedReadSavedExportedAndKept)
{
    TempDir dir;
    const std::string music = dir.file("张三") + "/音乐";
    ASSERT_TRUE(files::MakeFolder(dir.file("张三")));
    ASSERT_TRUE(files::MakeFolder(music));
    const std::string scratch = music + "/~Mid.Dat";
    recordOneKey(scratch, "小星星");
    std::string title, author, error;
    ASSERT_TRUE(ReadHeaderLine(scratch, title, author));
    EXPECT_EQ(title, "小星星");
    EXPECT_EQ(WhyUnreadable(scratch), "");
    const std::string take = readBytes(scratch);
    EXPECT_EQ(take.substr(23 * kSlotSize), rawRecord("@TonD1    ") + rawRecord("24   10   ") + rawRecord("@END 0    "));

    const std::string saved = music + "/小星星.hbk";
    EXPECT_EQ(CopySongFile(scratch, saved, error), CopyResult::Replaced) << error;
    EXPECT_EQ(readBytes(saved), take);
    EXPECT_EQ(CopySongFile(saved, music + "/../音乐/小星星.hbk", error), CopyResult::Unchanged);
    EXPECT_EQ(FolderOf(saved), music);
    EXPECT_EQ(FileNameOf(saved), "小星星.hbk");

    // Exported as a MIDI file and imported from it.
    const std::string midi = music + "/小星星.mid";
    ASSERT_TRUE(WriteSmf(midi, {{0, kLowerTrack, 0x90, 60, 100}, {500, kLowerTrack, 0x80, 60, 0}}, "小星星"));
    ImportedSong imported;
    ASSERT_TRUE(ImportMidiFile(midi, music + "/导入.hbk", imported, error)) << error;
    ASSERT_TRUE(ReadHeaderLine(music + "/导入.hbk", title, author));
    EXPECT_EQ(title, "小星星");

    // Kept as a take in 录音 beside it, under its title.
    const std::string takes = TakesFolder(scratch);
    EXPECT_EQ(takes, music + "/录音");
    std::string kept;
    ASSERT_TRUE(KeepTake(scratch, takes, kept, error)) << error;
    EXPECT_EQ(FolderOf(kept), takes);
    EXPECT_EQ(FileNameOf(kept).substr(20), "小星星.hbk");
    EXPECT_EQ(readBytes(kept), take);
    EXPECT_FALSE(IsRegularFile(scratch));
    EXPECT_EQ(files::FileNames(takes), std::vector<std::string>{FileNameOf(kept)});
    PruneTakes(takes, 1);
    EXPECT_TRUE(IsRegularFile(kept));
}

TEST(SongFiles, aTakeNeverReplacesAFile)
{
    TempDir dir;
    const std::string scratch = dir.file("~Mid.Dat"), takes = dir.file("录音");
    recordOneKey(scratch, "同名");
    std::string first, second, error;
    ASSERT_TRUE(KeepTake(scratch, takes, first, error)) << error;
    // A second take of the same second and title finds the first one's name taken.
    recordOneKey(scratch, "同名");
    std::filesystem::last_write_time(fsPath(scratch), std::filesystem::last_write_time(fsPath(first)));
    writeBytes(first, "a song of the user's under that name");
    ASSERT_TRUE(KeepTake(scratch, takes, second, error)) << error;
    EXPECT_EQ(second, first.substr(0, first.size() - 4) + " (2).hbk");
    EXPECT_EQ(readBytes(first), "a song of the user's under that name");

    // The move itself refuses a taken name and leaves both files.
    writeBytes(scratch, "new");
    errno = 0;
    EXPECT_FALSE(files::MoveNoReplace(scratch, first));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(readBytes(scratch), "new");
    EXPECT_EQ(readBytes(first), "a song of the user's under that name");
}

TEST(ScratchLock, aSecondHolderIsRefusedUntilTheFirstLetsGo)
{
    TempDir dir;
    const std::string scratch = dir.file("音乐 ~Mid.Dat");
    ScratchLock first, second;
    ASSERT_TRUE(first.tryLock(scratch));
    EXPECT_FALSE(second.tryLock(scratch));
    EXPECT_FALSE(second.locked());
    first.unlock();
    EXPECT_TRUE(second.tryLock(scratch));
    EXPECT_FALSE(first.tryLock(scratch));
}
