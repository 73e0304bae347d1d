#pragma once
// A private JACK server for the tests that need a real MIDI port on a machine
// without MIDI hardware: jackd with its dummy driver, under a name of its own
// so that it never meets a user's server or a parallel test's.
#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

class JackServer {
public:
    // The path of jackd, empty when it is not installed.
    static std::string FindJackd()
    {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(path ? path : "/usr/bin:/bin");
        for (std::string dir; std::getline(dirs, dir, ':');) {
            const std::string candidate = dir + "/jackd";
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        return {};
    }

    // Starts the server, makes it this process's default one and waits until
    // it accepts clients. false: `why` tells what went wrong.
    bool start(const std::string& logPath, std::string& why)
    {
        const std::string jackd = FindJackd();
        if (jackd.empty()) {
            why = "jackd is not installed";
            return false;
        }
        name_ = "sonarel-test-" + std::to_string(::getpid());
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        log_ = logPath;
        pid_ = ::fork();
        if (pid_ < 0) {
            why = "fork failed";
            return false;
        }
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
            const int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            ::execl(jackd.c_str(), "jackd", "-n", name_.c_str(), "--no-realtime", "-t", "10000", "-d", "dummy", "-r", "44100",
                    "-p", "1024", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                why = "jackd exited: " + log();
                return false;
            }
            jack_status_t st{};
            jack_client_t* client = jack_client_open("sonarel-test-wait",
                                                     jack_options_t(JackNoStartServer | JackServerName), &st,
                                                     name_.c_str());
            if (client) {
                jack_client_close(client);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        why = "jackd did not answer: " + log();
        stop();
        return false;
    }

    void stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        pid_ = -1;
    }

    ~JackServer() { stop(); }

    const std::string& name() const { return name_; }

    std::string log() const
    {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    pid_t pid_ = -1;
    std::string name_;
    std::string log_;
};
