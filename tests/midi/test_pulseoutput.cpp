// The stream into a real PulseAudio server (a private one with a null sink):
// a stalled rendering thread makes the server run dry, and the stream grows
// its buffer until the same stalls no longer do.
#include "midi/services/pulseoutput.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class PulseServer {
public:
    bool start()
    {
        char folder[] = "/tmp/sonarel-pulse-XXXXXX";
        if (!mkdtemp(folder) || std::system("command -v pulseaudio >/dev/null") != 0)
            return false;
        folder_ = folder;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            setenv("XDG_RUNTIME_DIR", folder, 1);
            setenv("HOME", folder, 1);
            if (!std::freopen("/dev/null", "w", stderr))
                _exit(127);
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                   "--load=module-null-sink sink_name=out", "--load=module-native-protocol-unix", nullptr);
            _exit(127);
        }
        const std::string socket = folder_ + "/pulse/native";
        for (int i = 0; i < 200 && ::access(socket.c_str(), F_OK) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        server_ = "unix:" + socket;
        return ::access(socket.c_str(), F_OK) == 0;
    }
    ~PulseServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (!folder_.empty())
            std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    const std::string& server() const { return server_; }

private:
    pid_t pid_ = -1;
    std::string folder_, server_;
};

}  // namespace

// Runs the stream with its rendering thread standing still now and then:
// long stalls until its buffer has grown as far as it may, then stalls of
// 2 ms (more than the first buffer holds) for two seconds, whose dropouts a
// second are returned.
double dropoutsUnderStalls(const std::string& server, int largestBufferFrames)
{
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    std::atomic<int> pieces{0};
    std::atomic<int> stallMs{6};
    PulseOutput::Options options;
    options.server = server;
    options.bufferFrames = 96;
    options.requestFrames = 32;
    options.largestBufferFrames = largestBufferFrames;
    options.idleMs = 60000;  // keeps playing the silence
    options.beforeRender = [&] {
        if (pieces.fetch_add(1) % 10 == 9)
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs.load()));
    };
    std::string why;
    auto out = PulseOutput::Open(synth, options, why);
    EXPECT_TRUE(out) << why;
    double rate = -1;
    if (out) {
        out->wake();
        for (int i = 0; i < 100 && out->bufferFrames() < largestBufferFrames; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(out->bufferFrames(), largestBufferFrames);
        stallMs = 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int before = out->underruns();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        rate = (out->underruns() - before) / 2.0;
        out.reset();
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return rate;
}

TEST(PulseOutputTest, stallsGrowTheBufferUntilTheServerRarelyRunsDry)
{
    PulseServer pulse;
    if (!pulse.start())
        GTEST_SKIP() << "no PulseAudio server could be started";
    // The same stalls against a stream that may not grow, and one that may.
    const double fixed = dropoutsUnderStalls(pulse.server(), 96);
    const double grown = dropoutsUnderStalls(pulse.server(), PulseOutput::Options{}.largestBufferFrames);
    EXPECT_GT(fixed, 5);
    // Mostly none at all once grown; a busy machine adds stalls of its own.
    EXPECT_LT(grown, fixed / 2) << fixed << " dropouts a second without growing";
}
