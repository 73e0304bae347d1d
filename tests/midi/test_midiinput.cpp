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
    if (JackServer::FindJackd().empty())
        GTEST_SKIP() << "jackd is not installed";
    AudioSystem::RouteLibraryMessages();
    JackServer server;
    std::string error;
    ASSERT_TRUE(server.start(::testing::TempDir() + "sonarel-jackd-in.log", error)) << error;
    {
        RtMidiOut controller(RtMidi::UNIX_JACK, "sonarel-test");
        controller.openVirtualPort("controller");
        MidiInput input;
        ASSERT_TRUE(input.open("controller", error)) << error;
        std::vector<int> heard;
        std::atomic<int> taken{0};
        bool elsewhere = false;
        QObject::connect(&input, &MidiInput::note, [&](bool on, int channel, int note, int) {
            elsewhere |= QThread::currentThread() != qApp->thread();
            if (on && channel == 0)
                heard.push_back(note);
            taken = int(heard.size());
        });

        // Played on a thread of its own while the input's thread takes them,
        // a few notes at a time: a JACK cycle holds only so many.
        constexpr int kNotes = 300, kAtOnce = 10;
        std::thread player([&] {
            for (int i = 0; i < kNotes; ++i) {
                Bytes on{0x90, (unsigned char)(i % 128), 100}, off{0x80, (unsigned char)(i % 128), 0};
                controller.sendMessage(&on);
                controller.sendMessage(&off);
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while ((i + 1) % kAtOnce == 0 && taken <= i && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
            }
        });
        const bool all = pumpUntil([&] { return heard.size() >= std::size_t(kNotes); });
        player.join();
        ASSERT_TRUE(all) << heard.size() << " of " << kNotes;
        for (int i = 0; i < kNotes; ++i)
            ASSERT_EQ(heard[std::size_t(i)], i % 128) << "at " << i;
        EXPECT_FALSE(elsewhere);

        // Closed while the controller keeps playing: what came before the
        // close is still handed on, nothing after it. A second listener of
        // the same controller shows the notes go on coming meanwhile.
        std::atomic<bool> playing{true};
        std::thread flood([&] {
            Bytes on{0x90, 60, 100};
            while (playing) {
                controller.sendMessage(&on);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
        RtMidiIn witness(RtMidi::UNIX_JACK, "sonarel-witness");
        for (unsigned i = 0; i < witness.getPortCount(); ++i)
            if (witness.getPortName(i).find("controller") != std::string::npos)
                witness.openPort(i, "witness");
        ASSERT_TRUE(witness.isPortOpen());
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
