#pragma once
// A private PulseAudio server with a null sink, for the tests and benchmarks
// that need a real sound server: it is killed with its owner.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
