#pragma once
// A private PulseAudio server with a null sink, for the tests and benchmarks
// that need a real sound server: it is killed with its owner.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sched.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

class PulseServer {
public:
    // realtime: the server's threads at a real-time priority, as a desktop's
    // sound server runs (through rtkit); where the system does not allow it,
    // the server runs as it can.
    bool start(bool realtime = false)
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
        if (realtime) {
            // A server run as root without rtkit keeps no real-time priority
            // of its own: its threads are given one here.
            sched_param param{};
            param.sched_priority = 10;
            for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task"))
                sched_setscheduler(std::stoi(task.path().filename().string()), SCHED_RR, &param);
        }
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
