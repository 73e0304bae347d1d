#include "midi/midiout.h"
#include "midi/services/recordingservice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace MidiOut;

class PortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetService(&service);
        errors.clear();
        SetErrorSink([this](int code) { errors.push_back(code); });
    }
    void TearDown() override
    {
        CloseMidiOut();
        SetErrorSink(nullptr);
        SetService(nullptr);
    }
    RecordingService service;
    std::vector<int> errors;
};

TEST_F(PortTest, deviceChoicePrefersMapperThenFirstAnsweringDevice)
{
    std::int16_t id = 0;
    EXPECT_TRUE(FindMidiDevice(id));
    EXPECT_EQ(id, -1);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"answers -1"}));

    service.calls.clear();
    service.mapperAnswers = false;
    service.devices = 3;
    service.answeringDevices = {2};
    id = 0;
    EXPECT_TRUE(FindMidiDevice(id));
    EXPECT_EQ(id, 2);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"answers -1", "count", "answers 0", "answers 1", "answers 2"}));

    // Nothing answers: false, and the identifier is left as the caller set it.
    service.devices = 0;
    id = 7;
    EXPECT_FALSE(FindMidiDevice(id));
    EXPECT_EQ(id, 7);
}

TEST_F(PortTest, openClosesFirstAndClosingAClosedPortCallsNothing)
{
    CloseMidiOut();
    EXPECT_TRUE(service.calls.empty());

    EXPECT_TRUE(OpenMidiOut(-1));
    const auto first = MidiOutHandle;
    EXPECT_NE(first, 0u);
    service.calls.clear();
    EXPECT_TRUE(OpenMidiOut(-1));
    EXPECT_EQ(service.calls, (std::vector<std::string>{"close " + std::to_string(first), "open -1"}));

    CloseMidiOut();
    EXPECT_EQ(MidiOutHandle, 0u);
    service.calls.clear();
    CloseMidiOut();
    EXPECT_TRUE(service.calls.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(PortTest, failedOpenLeavesPortClosedAndSendsFailQuietly)
{
    service.openResult = MidiResult::NoDriver;
    EXPECT_FALSE(OpenMidiOut(0));
    EXPECT_EQ(MidiOutHandle, 0u);
    EXPECT_EQ(errors, (std::vector<int>{MidiResult::NoDriver}));

    NoteOn(0, 60, 100);  // handle 0: the service refuses, the error is swallowed
    EXPECT_TRUE(service.messages.empty());
    EXPECT_EQ(service.attempts.size(), 1u);
    EXPECT_EQ(errors.size(), 2u);

    SetService(nullptr);  // no port system at all
    EXPECT_FALSE(OpenMidiOut(-1));
    NoteOn(0, 60, 100);
    std::int16_t id = 0;
    EXPECT_FALSE(FindMidiDevice(id));
}

TEST_F(PortTest, wrappersPackStatusAndDataBytes)
{
    ASSERT_TRUE(OpenMidiOut(-1));
    NoteOn(1, 55, 127);
    NoteOff(1, 55);
    ControlChange(2, 7, 100);
    ProgramChange(3, 0, 12);
    EXPECT_EQ(service.bytes(), "91 37 7F,81 37 00,B2 07 64,B3 00 00,C3 0C 00");
}

TEST_F(PortTest, firstDataByteAbove127DropsOnlyThatMessage)
{
    ASSERT_TRUE(OpenMidiOut(-1));
    NoteOn(0, 138, 127);   // key 64 + pitch 63 + tone 11
    NoteOn(0, 128, 127);
    NoteOn(0, 127, 127);
    NoteOff(0, 200);
    EXPECT_EQ(service.bytes(), "90 7F 7F");
    EXPECT_TRUE(errors.empty());  // dropped without a report
}

TEST_F(PortTest, traceWritesEveryHandedOnMessageEvenWhileClosed)
{
    const std::string path = ::testing::TempDir() + "sonarel-trace.txt";
    ASSERT_TRUE(SetTrace(path));
    NoteOn(0, 48, 127);      // closed port: still traced
    NoteOn(0, 140, 127);     // dropped by packing: not traced
    ASSERT_TRUE(OpenMidiOut(-1));
    NoteOff(1, 55);
    SetTrace("");

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

    EXPECT_FALSE(SetTrace("/nonexistent-dir/x/trace.txt"));
}

TEST_F(PortTest, aCaptureSendsElsewhereAndGivesTheLivePortBack)
{
    ASSERT_TRUE(OpenMidiOut(-1));
    const std::uint32_t live = MidiOutHandle;
    service.calls.clear();
    RecordingService capture;
    {
        const Capture port(&capture);
        EXPECT_NE(MidiOutHandle, 0u);
        NoteOn(0, 60, 100);
        EXPECT_EQ(capture.bytes(), "90 3C 64");
        EXPECT_EQ(capture.calls, (std::vector<std::string>{"open -1", "send"}));
    }
    EXPECT_EQ(capture.calls.back(), "close 1");
    // The live port was neither closed nor sent to, and sends there again.
    EXPECT_TRUE(service.calls.empty());
    EXPECT_EQ(MidiOutHandle, live);
    EXPECT_EQ(Service(), &service);
    NoteOff(0, 60);
    EXPECT_EQ(service.bytes(), "80 3C 00");
}
