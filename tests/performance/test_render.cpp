#include "audiocheck.h"
#include "platform/testsystem.h"

#include "performance/render.h"
#include "midi/services/synthservice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const std::string& bytes, std::size_t at)
{
    return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8
        | std::uint32_t(std::uint8_t(bytes[at + 2])) << 16 | std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
}

std::uint16_t le16(const std::string& bytes, std::size_t at)
{
    return std::uint16_t(std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8);
}

std::vector<std::int16_t> samplesOf(const std::string& wav)
{
    std::vector<std::int16_t> lr((wav.size() - 44) / 2);
    for (std::size_t i = 0; i < lr.size(); ++i)
        lr[i] = std::int16_t(le16(wav, 44 + 2 * i));
    return lr;
}

int frameAtMs(int ms)
{
    return ms * kRate / 1000;
}

// Two notes: C from 0 to 500 ms, E from 1500 ms to 1700 ms, played on a
// violin (after bank select and program change) in a list not in time order.
using songs::kLowerTrack;
const std::vector<songs::TimedMessage> kPiece = {
    {1500, kLowerTrack, 0x90, 64, 110},
    {0, kLowerTrack, 0xB0, 0, 0},
    {0, kLowerTrack, 0xC0, 40, 0},
    {0, kLowerTrack, 0x90, 60, 110},
    {500, kLowerTrack, 0x80, 60, 0},
    {1700, kLowerTrack, 0x80, 64, 0},
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (SynthService::FindSoundfont("").empty())
            GTEST_SKIP() << "no General MIDI soundfont installed";
        path = ::testing::TempDir() + "sonarel-render-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav";
        std::remove(path.c_str());
    }
    void TearDown() override { std::remove(path.c_str()); }
    std::string path;
};

}  // namespace

TEST_F(RenderTest, writesPcmWavWithTailAndSoundWhereTheNotesAre)
{
    RenderOptions options;
    options.tailMs = 1500;
    std::vector<double> progress;
    options.progress = [&](double f) { progress.push_back(f); };
    std::string error;
    ASSERT_TRUE(RenderToWav(kPiece, path, options, &error)) << error;

    const std::string wav = readFile(path);
    const std::uint32_t frames = std::uint32_t(frameAtMs(1700) + frameAtMs(1500));
    ASSERT_EQ(wav.size(), 44 + frames * 4);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), 36 + frames * 4);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(wav, 16), 16u);       // format chunk size
    EXPECT_EQ(le16(wav, 20), 1);         // PCM
    EXPECT_EQ(le16(wav, 22), 2);         // stereo
    EXPECT_EQ(le32(wav, 24), 44100u);
    EXPECT_EQ(le32(wav, 28), 44100u * 4);
    EXPECT_EQ(le16(wav, 32), 4);         // block align
    EXPECT_EQ(le16(wav, 34), 16);        // bits
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(le32(wav, 40), frames * 4);

    const auto lr = samplesOf(wav);
    EXPECT_GT(rms(lr, frameAtMs(50), frameAtMs(450)), kSoundingRms);     // first note
    EXPECT_LT(rms(lr, frameAtMs(1300), frameAtMs(1500)), kSilentRms);    // gone before the second
    EXPECT_GT(rms(lr, frameAtMs(1550), frameAtMs(1700)), kSoundingRms);  // second note, on time
    EXPECT_LT(rms(lr, frameAtMs(1450), frameAtMs(1495)), kSilentRms);    // and not early
    EXPECT_LT(rms(lr, int(frames) - frameAtMs(300), int(frames)), kSilentRms);  // the tail dies away

    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 1.0);
    for (std::size_t i = 1; i < progress.size(); ++i)
        EXPECT_LE(progress[i - 1], progress[i]);
}

TEST_F(RenderTest, emptyPieceIsTheTailOfSilence)
{
    RenderOptions options;
    options.tailMs = 250;
    ASSERT_TRUE(RenderToWav({}, path, options));
    const std::string wav = readFile(path);
    ASSERT_EQ(wav.size(), 44u + std::size_t(frameAtMs(250)) * 4);
    EXPECT_LT(rms(samplesOf(wav), 0, frameAtMs(250)), kSilentRms);
}

TEST_F(RenderTest, failureKeepsTheOldFile)
{
    {
        std::ofstream(path) << "the old take";
    }
    std::string error;

    // An output folder that does not exist.
    EXPECT_FALSE(RenderToWav(kPiece, ::testing::TempDir() + "no-such-dir/x/out.wav", {}, &error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos) << error;

    // A soundfont that cannot be read.
    RenderOptions badFont;
    badFont.soundfont = "/nonexistent/font.sf2";
    error.clear();
    EXPECT_FALSE(RenderToWav(kPiece, path, badFont, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(path), "the old take");

    // The disk fills up halfway (a file size limit stands in for it, and
    // holds for root too): the old file stays as it was, no partial file.
    songtest::DiskFull full(64 * 1024);
    if (!full.active())
        GTEST_SKIP() << "no way here to make the disk full";
    error.clear();
    const bool written = RenderToWav(kPiece, path, {}, &error);
    full.lift();
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(path), "the old take");
    const std::filesystem::path target(path);
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name != target.filename().string() && name.rfind(target.filename().string(), 0) == 0)
            << "left behind: " << name;
    }

    // And a render that succeeds replaces it whole.
    ASSERT_TRUE(RenderToWav(kPiece, path, {}, &error)) << error;
    EXPECT_EQ(readFile(path).substr(0, 4), "RIFF");
}
