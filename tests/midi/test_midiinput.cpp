// A controller keyboard on a private JACK server: what it plays is called in
// on JACK's own thread and must reach the input's thread whole, in order, and
// never after the input is closed.
#include "jackserver.h"
#include "midi/services/audiosystem.h"
#include "midi/services/midiinput.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <rtmidi/RtMidi.h>

namespace {

using Bytes = std::vector<unsigned char>;

// Runs the input's event loop until `done` or the time is up.
template <typename Done>
bool pumpUntil(Done done, std::chrono::seconds limit = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

}  // namespace

TEST(MidiInputTest, aControllersNotesCrossToTheInputsThreadInOrderAndStopAtClose)
{
    MidiInput input;
    std::vector<int> heard;
    bool elsewhere = false;
    QObject::connect(&input, &MidiInput::note, [&](bool on, int channel, int note, int) {
        elsewhere |= QThread::currentThread() != qApp->thread();
        if (on && channel == 0)
            heard.push_back(note);
    });

    // As a MIDI system calls: from a thread of its own, message by message,
    // while the input's thread takes them.
    constexpr int kNotes = 2000;
    std::thread system([&input] {
        for (int i = 0; i < kNotes; ++i) {
            input.arrivedOnItsThread({0x90, (unsigned char)(i % 128), 100});
            input.arrivedOnItsThread({0x80, (unsigned char)(i % 128), 0});
        }
    });
    const bool all = pumpUntil([&] { return heard.size() >= std::size_t(kNotes); });
    system.join();
    ASSERT_TRUE(all) << heard.size() << " of " << kNotes;
    for (int i = 0; i < kNotes; ++i)
        ASSERT_EQ(heard[std::size_t(i)], i % 128) << "at " << i;

    // A controller on a private JACK server: its notes come in on JACK's
    // thread.
    if (JackServer::FindJackd().empty())
        GTEST_SKIP() << "jackd is not installed";
    AudioSystem::RouteLibraryMessages();
    JackServer server;
    std::string error;
    ASSERT_TRUE(server.start(::testing::TempDir() + "sonarel-jackd-in.log", error)) << error;
    {
        RtMidiOut controller(RtMidi::UNIX_JACK, "sonarel-test");
        controller.openVirtualPort("controller");
        ASSERT_TRUE(input.open("controller", error)) << error;
        heard.clear();
        Bytes c4{0x90, 60, 100};
        controller.sendMessage(&c4);
        EXPECT_TRUE(pumpUntil([&] { return !heard.empty(); }));
        EXPECT_EQ(heard, std::vector<int>{60});
        EXPECT_FALSE(elsewhere);

        // Closed while the controller keeps playing: what came before the
        // close is still handed on, nothing after it. A second listener of
        // the same controller shows the notes go on coming meanwhile.
        RtMidiIn witness(RtMidi::UNIX_JACK, "sonarel-witness");
        for (unsigned i = 0; i < witness.getPortCount(); ++i)
            if (witness.getPortName(i).find("controller") != std::string::npos)
                witness.openPort(i, "witness");
        ASSERT_TRUE(witness.isPortOpen());
        std::atomic<bool> playing{true};
        std::thread flood([&] {
            Bytes on{0x90, 60, 100};
            while (playing) {
                controller.sendMessage(&on);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        const std::size_t before = heard.size();
        EXPECT_TRUE(pumpUntil([&] { return heard.size() > before + 10; }));
        input.close();
        QCoreApplication::processEvents();
        const std::size_t atClose = heard.size();
        int later = 0;
        EXPECT_TRUE(pumpUntil([&] {
            Bytes m;
            while (witness.getMessage(&m), !m.empty())
                ++later;
            return later > 100;
        }));
        playing = false;
        flood.join();
        EXPECT_EQ(heard.size(), atClose);
        EXPECT_FALSE(input.isOpen());
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
