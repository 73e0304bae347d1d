#include "cli/midiservices.h"
#include "midi/midiout.h"
#include "midi/services/combinedservice.h"
#include "midi/services/synthservice.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

using Args = std::vector<std::string>;
using Settings = std::vector<std::pair<std::string, std::string>>;

class MidiChoiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No port system: a JACK server of a name nobody runs, and this machine
        // has no ALSA sequencer (elsewhere its ports may add devices).
        const std::string server = "sonarel-nobody-" + std::to_string(::getpid());
        qputenv("JACK_DEFAULT_SERVER", QByteArray::fromStdString(server));
        qputenv("JACK_NO_START_SERVER", QByteArray("1"));
    }
    void TearDown() override
    {
        port.CloseMidiOut();
        port.SetService(nullptr);
    }
    MidiOut port;

    static CombinedService& combined(const std::unique_ptr<CombinedService>& service)
    {
        return dynamic_cast<CombinedService&>(*service);
    }
};

}  // namespace

TEST(MidiOptionsTest, takesItsOptionsAndLeavesTheRestInOrder)
{
    Args args = {"--soundfont", "/sf/piano.sf2", "song.hbk",      "--synth-option", "audio.driver=file",
                 "--synth-option=audio.file.name=out=1.wav", "--midi-out=FLUID", "--midi-trace", "t.txt",
                 "--geometry", "--midi-out", "2"};
    MidiOptions options;
    std::string error;
    ASSERT_TRUE(TakeMidiOptions(args, options, &error)) << error;
    EXPECT_EQ(args, (Args{"song.hbk", "--geometry"}));
    EXPECT_EQ(options.soundfont, "/sf/piano.sf2");
    EXPECT_EQ(options.midiOut, "2");  // the later one wins
    EXPECT_EQ(options.trace, "t.txt");
    // Repeatable, in order; the value is everything after the first '='.
    EXPECT_EQ(options.synthOptions, (Settings{{"audio.driver", "file"}, {"audio.file.name", "out=1.wav"}}));

    // "--" ends the options: what follows is the song's business.
    args = {"--midi-out", "1", "--", "--soundfont", "x"};
    MidiOptions more;
    ASSERT_TRUE(TakeMidiOptions(args, more, &error));
    EXPECT_EQ(args, (Args{"--", "--soundfont", "x"}));
    EXPECT_EQ(more.midiOut, "1");
    EXPECT_EQ(more.soundfont, "");
}

TEST(MidiOptionsTest, malformedOptionFailsAndTouchesNothing)
{
    const std::vector<Args> bad = {
        {"song.hbk", "--soundfont"},           // no value
        {"--synth-option", "synth.gain"},      // no '='
        {"--synth-option", "=0.5"},            // no name
        {"--midi-out="},                       // empty port
        {"--midi-trace", "t.txt", "--midi-out"},
    };
    for (const Args& original : bad) {
        Args args = original;
        MidiOptions options;
        options.soundfont = "kept.sf2";
        std::string error;
        EXPECT_FALSE(TakeMidiOptions(args, options, &error)) << original.back();
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(args, original);
        EXPECT_EQ(options.soundfont, "kept.sf2");
        EXPECT_EQ(options.trace, "");
    }
    // A value that merely looks like an option is still the value.
    Args args = {"--soundfont", "--weird.sf2"};
    MidiOptions options;
    EXPECT_TRUE(TakeMidiOptions(args, options));
    EXPECT_EQ(options.soundfont, "--weird.sf2");
    EXPECT_FALSE(MidiOptionsHelp().empty());
}

TEST_F(MidiChoiceTest, defaultDeviceIsTheSynthesizerWhenASoundfontExists)
{
    if (SynthService::FindSoundfont("").empty())
        GTEST_SKIP() << "no General MIDI soundfont installed";
    auto service = CreateMidiService({});
    EXPECT_EQ(service->deviceAnswers(-1), MidiResult::Ok);
    EXPECT_EQ(combined(service).describe(-1), "synthesizer");

    port.SetService(service.get());
    EXPECT_EQ(port.FindMidiDevice(), std::optional<std::int16_t>(-1));

    // With no audio output the port still opens (the output comes up on a
    // thread of its own, or never) and the program goes on silent.
    MidiOptions noAudio;
    noAudio.synthOptions = {{"audio.driver", "no-such-driver"}};
    auto silent = CreateMidiService(noAudio);
    port.SetService(silent.get());
    EXPECT_TRUE(port.OpenMidiOut(-1));
    EXPECT_FALSE(combined(silent).synth()->waitForAudio(10000));
    port.NoteOn(0, 60, 100);
    port.CloseMidiOut();

    // With an audio output that works anywhere, the port opens on the synthesizer.
    MidiOptions toFile;
    const std::string wav = ::testing::TempDir() + "sonarel-choice.wav";
    toFile.synthOptions = {{"audio.driver", "file"}, {"audio.file.name", wav}};
    auto filed = CreateMidiService(toFile);
    port.SetService(filed.get());
    EXPECT_TRUE(port.OpenMidiOut(-1));
    EXPECT_TRUE(combined(filed).synth()->isOpen());
    port.CloseMidiOut();
    EXPECT_FALSE(combined(filed).synth()->isOpen());
    std::remove(wav.c_str());
}

TEST_F(MidiChoiceTest, missingSoundfontSilencesTheSynthesizerOnly)
{
    MidiOptions options;
    options.soundfont = "/nonexistent/gm.sf2";
    auto service = CreateMidiService(options);
    EXPECT_NE(service->deviceAnswers(-1), MidiResult::Ok);
    std::uint32_t handle = 0;
    EXPECT_NE(service->open(-1, handle), MidiResult::Ok);
    EXPECT_EQ(handle, 0u);

    // The port then looks for a system port; with none it stays closed.
    port.SetService(service.get());
    const auto device = port.FindMidiDevice();
    EXPECT_EQ(device.has_value(), service->deviceCount() > 0);
    EXPECT_NE(device, std::optional<std::int16_t>(-1));
}

TEST_F(MidiChoiceTest, midiOutMakesTheDefaultDeviceThatPort)
{
    if (SynthService::FindSoundfont("").empty())
        GTEST_SKIP() << "no General MIDI soundfont installed";
    MidiOptions options;
    options.midiOut = "no-such-port-" + std::to_string(::getpid());
    auto service = CreateMidiService(options);
    // The synthesizer would answer, but the user asked for a port that is not there.
    EXPECT_NE(service->deviceAnswers(-1), MidiResult::Ok);
    EXPECT_EQ(combined(service).describe(-1), "none");
    std::uint32_t handle = 0;
    EXPECT_EQ(service->open(-1, handle), MidiResult::BadDeviceId);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(service->sendShortMsg(0, 0x7F3C90), MidiResult::InvalidHandle);
    EXPECT_EQ(service->close(0), MidiResult::InvalidHandle);
}
