// Saving a recording over a song, beside it, and where the folder takes no
// new file.
#include "songs/songcopy.h"

#include "songs/platform/files.h"

#include "platform/testsystem.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace songtest;

class SongCopy : public ::testing::Test {
protected:
    void TearDown() override { RefuseNewFiles(temp.path(), false); }

    std::string path(const std::string& name) const { return temp.file(name); }
    static void write(const std::string& p, const std::string& data) { writeBytes(p, data); }
    static std::string read(const std::string& p) { return readBytes(p); }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(fsPath(temp.path())))
            names.push_back(e.path().filename().string());
        return names;
    }
    static songs::files::Info infoOf(const std::string& p)
    {
        songs::files::Info info;
        songs::files::InfoOf(p, info);
        return info;
    }

    TempDir temp;
    std::string error;
};

TEST_F(SongCopy, anExistingSongIsReplacedWholeAndKeepsItsMode)
{
    write(path("new.hbk"), std::string(36, 'n'));
    write(path("song.hbk"), std::string(600, 'o'));
    const bool hasModes = SetMode(path("song.hbk"), 0640);  // Windows has none
    const songs::files::Info before = infoOf(path("song.hbk"));

    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("song.hbk"), error), songs::CopyResult::Replaced) << error;
    EXPECT_EQ(read(path("song.hbk")), std::string(36, 'n'));
    const songs::files::Info after = infoOf(path("song.hbk"));
    EXPECT_NE(after.id, before.id);  // a new file took the old one's name
    if (hasModes) {
        EXPECT_EQ(after.mode, 0640u);
    }
    EXPECT_EQ(entries().size(), 2u);  // nothing left beside them
}

TEST_F(SongCopy, whereTheFolderTakesNoNewFileTheSongIsWrittenInPlace)
{
    write(path("new.hbk"), std::string(36, 'n'));
    write(path("song.hbk"), std::string(600, 'o'));
    if (!RefuseNewFiles(temp.path(), true))
        GTEST_SKIP() << "this file system cannot make a folder refuse new files";

    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("song.hbk"), error), songs::CopyResult::WrittenInPlace)
        << error;
    EXPECT_EQ(read(path("song.hbk")), std::string(36, 'n'));  // the longer old song is cut to the new one

    // A new song there cannot be saved at all, and says so.
    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("other.hbk"), error), songs::CopyResult::Failed);
    EXPECT_NE(error.find("other.hbk"), std::string::npos);
    EXPECT_EQ(entries().size(), 2u);
}

TEST_F(SongCopy, aFailedSaveLeavesTheTargetAsItWas)
{
    write(path("song.hbk"), "old song");
    EXPECT_EQ(songs::CopySongFile(path("missing.hbk"), path("song.hbk"), error), songs::CopyResult::Failed);
    EXPECT_NE(error.find("missing.hbk"), std::string::npos);
    EXPECT_EQ(read(path("song.hbk")), "old song");

    write(path("new.hbk"), "new song");
    ASSERT_TRUE(songs::files::MakeFolder(path("folder.hbk")));
    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("folder.hbk"), error), songs::CopyResult::Failed);
    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("no/such/folder.hbk"), error), songs::CopyResult::Failed);
    EXPECT_EQ(entries().size(), 3u);
}

}  // namespace
