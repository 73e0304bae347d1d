#include "midi/midiout.h"
#include "midi/services/recordingservice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

class PortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        errors.clear();
        MidiOut::SetErrorSink([this](int code) { errors.push_back(code); });
    }
    void TearDown() override
    {
        port.CloseMidiOut();
        MidiOut::SetErrorSink(nullptr);
    }
    RecordingService service;
    MidiOut port{&service};
    std::vector<int> errors;
};

TEST_F(PortTest, deviceChoicePrefersMapperThenFirstAnsweringDevice)
{
    EXPECT_EQ(port.FindMidiDevice(), std::optional<std::int16_t>(-1));
    EXPECT_EQ(service.calls, (std::vector<std::string>{"answers -1"}));

    service.calls.clear();
    service.mapperAnswers = false;
    service.devices = 3;
    service.answeringDevices = {2};
    EXPECT_EQ(port.FindMidiDevice(), std::optional<std::int16_t>(2));
    EXPECT_EQ(service.calls, (std::vector<std::string>{"answers -1", "count", "answers 0", "answers 1", "answers 2"}));

    service.devices = 0;
    EXPECT_EQ(port.FindMidiDevice(), std::nullopt);
}

TEST_F(PortTest, openClosesFirstAndClosingAClosedPortCallsNothing)
{
    port.CloseMidiOut();
    EXPECT_TRUE(service.calls.empty());

    EXPECT_TRUE(port.OpenMidiOut(-1));
    const auto first = port.MidiOutHandle();
    EXPECT_NE(first, 0u);
    service.calls.clear();
    EXPECT_TRUE(port.OpenMidiOut(-1));
    EXPECT_EQ(service.calls, (std::vector<std::string>{"close " + std::to_string(first), "open -1"}));

    port.CloseMidiOut();
    EXPECT_EQ(port.MidiOutHandle(), 0u);
    service.calls.clear();
    port.CloseMidiOut();
    EXPECT_TRUE(service.calls.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(PortTest, failedOpenLeavesPortClosedAndSendsFailQuietly)
{
    service.openResult = MidiResult::NoDriver;
    EXPECT_FALSE(port.OpenMidiOut(0));
    EXPECT_EQ(port.MidiOutHandle(), 0u);
    EXPECT_EQ(errors, (std::vector<int>{MidiResult::NoDriver}));

    port.NoteOn(0, 60, 100);  // handle 0: the service refuses, the error is swallowed
    EXPECT_TRUE(service.messages.empty());
    EXPECT_EQ(service.attempts.size(), 1u);
    EXPECT_EQ(errors.size(), 2u);

    port.SetService(nullptr);  // no port system at all
    EXPECT_FALSE(port.OpenMidiOut(-1));
    port.NoteOn(0, 60, 100);
    EXPECT_EQ(port.FindMidiDevice(), std::nullopt);
}

TEST_F(PortTest, wrappersPackStatusAndDataBytes)
{
    ASSERT_TRUE(port.OpenMidiOut(-1));
    port.NoteOn(1, 55, 127);
    port.NoteOff(1, 55);
    port.ControlChange(2, 7, 100);
    port.ProgramChange(3, 0, 12);
    EXPECT_EQ(service.bytes(), "91 37 7F,81 37 00,B2 07 64,B3 00 00,C3 0C 00");
}

TEST_F(PortTest, valuesOutsideAMessagesRangesDropOnlyThatMessage)
{
    ASSERT_TRUE(port.OpenMidiOut(-1));
    port.NoteOn(16, 60, 100);  // would be key pressure on channel 1
    port.NoteOn(0, 60, 128);
    port.ControlChange(-1, 7, 100);
    port.ProgramChange(0, 0, 200);  // its bank select still goes
    port.NoteOn(0, 138, 127);   // key 64 + pitch 63 + tone 11
    port.NoteOn(0, 128, 127);
    port.NoteOn(0, 127, 127);
    port.NoteOff(0, 200);
    EXPECT_EQ(service.bytes(), "B0 00 00,90 7F 7F");
    EXPECT_TRUE(errors.empty());  // dropped without a report
}

TEST_F(PortTest, traceWritesEveryHandedOnMessageEvenWhileClosed)
{
    const std::string path = ::testing::TempDir() + "sonarel-trace.txt";
    ASSERT_TRUE(port.SetTrace(path));
    port.NoteOn(0, 48, 127);      // closed port: still traced
    port.NoteOn(0, 140, 127);     // dropped by packing: not traced
    ASSERT_TRUE(port.OpenMidiOut(-1));
    port.NoteOff(1, 55);
    port.SetTrace("");

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    std::istringstream first(lines[0]);
    long long ms = -1;
    std::string s, d1, d2;
    first >> ms >> s >> d1 >> d2;
    EXPECT_GE(ms, 0);
    EXPECT_EQ(s + " " + d1 + " " + d2, "90 30 7F");
    EXPECT_NE(lines[1].find(" 81 37 00"), std::string::npos);
    std::remove(path.c_str());

    EXPECT_FALSE(port.SetTrace("/nonexistent-dir/x/trace.txt"));
}

TEST_F(PortTest, soundingFollowsWhatWentOutOnEachChannel)
{
    ASSERT_TRUE(port.OpenMidiOut(-1));
    port.NoteOn(0, 60, 100);
    port.NoteOn(1, 60, 100);
    port.NoteOn(2, 64, 100);
    port.NoteOff(0, 60);
    port.NoteOn(2, 64, 0);  // velocity 0 ends it too
    port.ControlChange(3, 123, 0);
    EXPECT_FALSE(port.Sounding(0, 60));
    EXPECT_TRUE(port.Sounding(1, 60));
    EXPECT_FALSE(port.Sounding(2, 64));
    EXPECT_FALSE(port.Sounding(16, 60));
    // A second port, as an export makes, shares nothing with this one.
    RecordingService other;
    MidiOut own(&other);
    EXPECT_FALSE(own.Sounding(1, 60));
    own.NoteOn(1, 60, 100);
    EXPECT_TRUE(own.Sounding(1, 60));
    EXPECT_EQ(service.messages.size(), 6u);
}
