// Saving a recording over a song, beside it, and where the folder takes no
// new file.
#include "songs/songcopy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class SongCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + std::string("/songcopy-XXXXXX");
        ASSERT_NE(mkdtemp(templ.data()), nullptr);
        dir = templ;
    }
    void TearDown() override
    {
        refuseNewFiles(false);
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    std::string path(const std::string& name) const { return dir + "/" + name; }
    static void write(const std::string& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }
    static std::string read(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (const dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    // The folder refuses new files while its files stay writable. Root may
    // create files in any folder, so for root the folder is made immutable.
    bool refuseNewFiles(bool on)
    {
        if (geteuid() != 0)
            return chmod(dir.c_str(), on ? 0555 : 0755) == 0;
        const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            close(fd);
        return ok;
    }

    std::string dir;
    std::string error;
};

TEST_F(SongCopy, anExistingSongIsReplacedWholeAndKeepsItsMode)
{
    write(path("new.hbk"), std::string(36, 'n'));
    write(path("song.hbk"), std::string(600, 'o'));
    ASSERT_EQ(chmod(path("song.hbk").c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(stat(path("song.hbk").c_str(), &before), 0);

    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("song.hbk"), error), songs::CopyResult::Replaced) << error;
    EXPECT_EQ(read(path("song.hbk")), std::string(36, 'n'));
    struct stat after {};
    ASSERT_EQ(stat(path("song.hbk").c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file took the old one's name
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(entries().size(), 2u);  // nothing left beside them
}

TEST_F(SongCopy, whereTheFolderTakesNoNewFileTheSongIsWrittenInPlace)
{
    write(path("new.hbk"), std::string(36, 'n'));
    write(path("song.hbk"), std::string(600, 'o'));
    if (!refuseNewFiles(true))
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
    ASSERT_EQ(mkdir(path("folder.hbk").c_str(), 0755), 0);
    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("folder.hbk"), error), songs::CopyResult::Failed);
    EXPECT_EQ(songs::CopySongFile(path("new.hbk"), path("no/such/folder.hbk"), error), songs::CopyResult::Failed);
    EXPECT_EQ(entries().size(), 3u);
}

}  // namespace
