#pragma once
// A full disk for the length of a scope: no file may grow past a size. It
// holds for root too, which a read-only folder does not. SIGXFSZ is ignored
// meanwhile, so a refused write fails with EFBIG instead of ending the test.
#include <csignal>
#include <cstdint>
#include <sys/resource.h>

class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uintmax_t bytes)
    {
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0)
            return;
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved_;
        limited.rlim_cur = rlim_t(bytes);
        active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return active_; }
    // Ends the limit before the scope does, so that what follows may write.
    void lift()
    {
        if (!active_)
            return;
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
        active_ = false;
    }

private:
    struct rlimit saved_ {};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};
