// Starts a program and prints how long it took until its top-level window
// named NAME was mapped on the X display, in milliseconds. The program is
// left running; its process id is printed after the time.
//
//   startprobe NAME TIMEOUT_MS PROGRAM [ARG...]
//   -> "<ms> <pid>" on stdout, exit 0; exit 1 when the window never came.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool hasName(Display* display, Window window, const char* name)
{
    char* text = nullptr;
    bool match = false;
    if (XFetchName(display, window, &text) && text) {
        match = std::strcmp(text, name) == 0;
        XFree(text);
    }
    return match;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: startprobe NAME TIMEOUT_MS PROGRAM [ARG...]\n");
        return 2;
    }
    const char* name = argv[1];
    const int timeoutMs = std::atoi(argv[2]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "startprobe: cannot open the display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    // Top-level windows are the root's children: their mapping is reported
    // to whoever listens for the root's substructure.
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        // The caller reads our answer from a pipe: the program must not hold it open.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    const int fd = ConnectionNumber(display);
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && hasName(display, event.xmap.window, name)) {
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                std::printf("%.1f %d\n", ms, int(pid));
                return 0;
            }
        }
        const int left = timeoutMs - int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, left < 50 ? left : 50);
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "startprobe: the program ended before its window appeared\n");
            return 1;
        }
    }
    std::fprintf(stderr, "startprobe: no window named %s within %d ms\n", name, timeoutMs);
    std::printf("-1 %d\n", int(pid));
    return 1;
}
