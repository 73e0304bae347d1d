#include "cli/midiservices.h"
#include "midi/midiout.h"
#include "midi/services/audiosystem.h"
#include "midi/services/combinedservice.h"
#include "midi/services/portservice.h"
#include "midi/services/synthservice.h"

#include <gtest/gtest.h>

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#ifdef SONAREL_HAVE_JACK
#include "jackserver.h"
#endif

namespace {

using Bytes = std::vector<unsigned char>;

void useNoJackServer()
{
    const std::string server = "sonarel-nobody-" + std::to_string(::getpid());
    ::setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
}

}  // namespace

TEST(PortServiceTest, noMidiSystemMeansNoDevicesAndNoCrash)
{
    // RtMidi's ALSA back end throws without a sequencer, and its JACK back
    // end crashes inside libjack without a server; neither may reach us.
    useNoJackServer();
    EXPECT_FALSE(AudioSystem::JackServerAnswers());
    PortService ports("1");
    const int count = ports.deviceCount();
    if (!AudioSystem::AlsaSequencerPresent()) {
        EXPECT_EQ(count, 0);
    }
    EXPECT_EQ(ports.deviceAnswers(count), MidiResult::BadDeviceId);
    std::uint32_t handle = 0;
    EXPECT_EQ(ports.open(count, handle), MidiResult::BadDeviceId);
    EXPECT_EQ(handle, 0u);
    if (count < 2) {
        EXPECT_EQ(ports.deviceAnswers(-1), MidiResult::BadDeviceId);  // "1" names no port
    }
    EXPECT_EQ(ports.sendShortMsg(0, 0x7F3C90), MidiResult::InvalidHandle);
    EXPECT_EQ(ports.sendShortMsg(12, 0x7F3C90), MidiResult::InvalidHandle);
    EXPECT_EQ(ports.close(12), MidiResult::InvalidHandle);

    // Through the port as the program uses it: nothing answers, nothing breaks.
    PortService none;
    MidiOut port(&none);
    EXPECT_EQ(port.FindMidiDevice().has_value(), count > 0);
    if (count == 0) {
        EXPECT_FALSE(port.OpenMidiOut(0));
    }
    port.NoteOn(0, 60, 100);
}

#ifdef SONAREL_HAVE_JACK

namespace {

// A MIDI input on the private JACK server, standing for a hardware synthesizer.
class JackPortTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (JackServer::FindJackd().empty())
            return;
        AudioSystem::RouteLibraryMessages();  // libjack's chatter while the server starts
        server = new JackServer;
        if (!server->start(::testing::TempDir() + "sonarel-jackd.log", startError)) {
            delete server;
            server = nullptr;
        }
    }
    static void TearDownTestSuite()
    {
        delete server;  // stops jackd
        server = nullptr;
    }

    void SetUp() override
    {
        if (JackServer::FindJackd().empty())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_NE(server, nullptr) << startError;
        input = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "sonarel-test");
        input->openVirtualPort("keys-in");
        MidiOut::SetErrorSink([this](int code) { errors.push_back(code); });
    }
    void TearDown() override
    {
        port.CloseMidiOut();
        port.SetService(nullptr);
        MidiOut::SetErrorSink(nullptr);
        services.clear();
        input.reset();  // before the server goes
    }
    MidiOut port;

    // Kept until the port is closed in TearDown, also when a check fails.
    // A service the port may still be open on when the test ends: TearDown
    // closes the port while the service is there.
    PortService& keepPorts() { return static_cast<PortService&>(*keep(std::make_unique<PortService>())); }
    MidiService* keep(std::unique_ptr<MidiService> service)
    {
        services.push_back(std::move(service));
        return services.back().get();
    }

    // What arrives until `count` messages came or the time is up. The server
    // runs a cycle every 6 ms; the long limit is for a loaded machine.
    std::vector<Bytes> receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        std::vector<Bytes> got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            Bytes message;
            input->getMessage(&message);
            if (message.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            else
                got.push_back(message);
        }
        return got;
    }

    static JackServer* server;
    static std::string startError;
    std::unique_ptr<RtMidiIn> input;
    std::vector<std::unique_ptr<MidiService>> services;
    std::vector<int> errors;
};

JackServer* JackPortTest::server = nullptr;
std::string JackPortTest::startError;

int indexOf(const std::vector<PortService::Port>& ports, const std::string& name)
{
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i].name == name)
            return int(i);
    }
    return -1;
}

}  // namespace

TEST_F(JackPortTest, portServiceSendsExactlyTheProgramsBytes)
{
    PortService& ports = keepPorts();
    const int count = ports.deviceCount();
    const int index = indexOf(ports.ports(), "sonarel-test:keys-in");
    ASSERT_GE(index, 0) << "ports seen: " << count;
    EXPECT_EQ(ports.deviceAnswers(index), MidiResult::Ok);
    EXPECT_NE(ports.deviceAnswers(-1), MidiResult::Ok);  // no port named as the default

    port.SetService(&ports);
    ASSERT_TRUE(port.OpenMidiOut(std::int16_t(index)));
    port.NoteOn(0, 60, 100);
    port.NoteOff(0, 60);
    port.ProgramChange(2, 0, 24);  // bank select, then a two-byte program change
    port.NoteOn(0, 140, 100);      // dropped by the port: nothing goes out
    port.ControlChange(15, 7, 127);

    const auto got = receive(5);
    EXPECT_EQ(got, (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 0}, {0xB2, 0, 0}, {0xC2, 24}, {0xBF, 7, 127}}));
    EXPECT_TRUE(errors.empty());

    port.CloseMidiOut();
    EXPECT_EQ(port.MidiOutHandle(), 0u);
    port.NoteOn(0, 62, 100);  // closed: fails quietly, nothing arrives
    EXPECT_TRUE(receive(1, std::chrono::milliseconds(300)).empty());
}

TEST_F(JackPortTest, closingEndsNotesStillSounding)
{
    // Quitting within a note's countdown must not leave the instrument at
    // the other end sounding it for ever.
    PortService& ports = keepPorts();
    const int index = indexOf(ports.refresh(), "sonarel-test:keys-in");
    ASSERT_GE(index, 0);
    port.SetService(&ports);
    ASSERT_TRUE(port.OpenMidiOut(std::int16_t(index)));
    port.NoteOn(0, 60, 100);
    port.NoteOn(1, 64, 100);
    port.NoteOn(2, 67, 100);
    port.NoteOff(0, 60);
    port.NoteOn(2, 67, 0);  // velocity 0 ends it too
    EXPECT_EQ(receive(5).size(), 5u);
    port.CloseMidiOut();
    EXPECT_EQ(receive(2, std::chrono::milliseconds(500)), (std::vector<Bytes>{{0x81, 64, 0}}));
}

TEST_F(JackPortTest, aCableCarriesEveryNoteOffAsItIs)
{
    PortService& ports = keepPorts();
    const int index = indexOf(ports.refresh(), "sonarel-test:keys-in");
    ASSERT_GE(index, 0);
    port.SetService(&ports);
    ASSERT_TRUE(port.OpenMidiOut(std::int16_t(index)));
    // The keyboards send only what changes the sound; the port leaves
    // nothing out, a silence for notes it never sounded included.
    port.NoteOn(0, 60, 100);
    port.NoteOff(0, 60);
    port.NoteOn(3, 61, 100);
    port.NoteOn(3, 61, 0);
    port.NoteOff(1, 70);
    EXPECT_EQ(receive(5, std::chrono::milliseconds(800)),
              (std::vector<Bytes>{{0x90, 60, 100}, {0x80, 60, 0}, {0x93, 61, 100}, {0x93, 61, 0}, {0x81, 70, 0}}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(JackPortTest, midiOutOptionPicksThePortByNameOrNumber)
{
    MidiOptions byName;
    byName.midiOut = "KEYS-IN";  // part of the name, in any case
    MidiService* service = keep(CreateMidiService(byName));
    auto& combined = dynamic_cast<CombinedService&>(*service);
    ASSERT_EQ(service->deviceAnswers(-1), MidiResult::Ok);
    EXPECT_EQ(combined.describe(-1), "port sonarel-test:keys-in");

    port.SetService(service);
    ASSERT_EQ(port.FindMidiDevice(), std::optional<std::int16_t>(-1));
    ASSERT_TRUE(port.OpenMidiOut(-1));
    EXPECT_FALSE(combined.synth()->isOpen());  // the synthesizer is not what -1 means now
    port.NoteOn(3, 64, 90);
    EXPECT_EQ(receive(1), (std::vector<Bytes>{{0x93, 64, 90}}));
    port.CloseMidiOut();
    EXPECT_EQ(receive(1), (std::vector<Bytes>{{0x83, 64, 0}}));  // closing ends what still sounds

    MidiOptions byNumber;
    byNumber.midiOut = std::to_string(indexOf(combined.ports()->refresh(), "sonarel-test:keys-in"));
    port.SetService(keep(CreateMidiService(byNumber)));
    ASSERT_TRUE(port.OpenMidiOut(-1));
    port.NoteOn(3, 65, 90);
    EXPECT_EQ(receive(1), (std::vector<Bytes>{{0x93, 65, 90}}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(JackPortTest, theDefaultDeviceCanBecomeAPortAndTheSynthesizerAgain)
{
    // What the window's port menu does: the next open takes the new default.
    MidiService* service = keep(CreateMidiService(MidiOptions()));
    auto& combined = dynamic_cast<CombinedService&>(*service);
    EXPECT_EQ(combined.describe(-1), "synthesizer");
    combined.setDefault("keys-in");
    EXPECT_EQ(combined.describe(-1), "port sonarel-test:keys-in");
    port.SetService(service);
    ASSERT_TRUE(port.OpenMidiOut(-1));
    port.NoteOn(0, 60, 100);
    EXPECT_EQ(receive(1), (std::vector<Bytes>{{0x90, 60, 100}}));
    combined.setDefault("");
    EXPECT_EQ(combined.describe(-1), "synthesizer");
    ASSERT_TRUE(port.OpenMidiOut(-1));  // closes the port first: its note ends there
    EXPECT_EQ(receive(1), (std::vector<Bytes>{{0x80, 60, 0}}));
    port.NoteOn(0, 62, 100);
    EXPECT_TRUE(receive(1, std::chrono::milliseconds(300)).empty());  // the synthesizer has it
}

#endif
