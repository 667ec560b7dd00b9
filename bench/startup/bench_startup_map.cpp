// Times one start of a program, from exec to its main window being mapped on the X display,
// then its close, from SIGTERM to exit. bench/startup/startup.sh runs it repeatedly.
//
//   bench_startup_map TITLE-PREFIX PROGRAM [ARGS...]
//
// Prints "<map ms> <close ms>" on stdout (the program's own output goes to stderr) and
// exits 0, or says why on stderr and exits 1. The first top-level window mapped whose
// WM_NAME begins with TITLE-PREFIX counts; the root window's substructure events are
// selected before the fork, so no map can be missed.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr int kMapTimeoutMs = 60'000;
constexpr int kCloseTimeoutMs = 30'000;

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

bool titleStartsWith(Display *display, Window window, const std::string &prefix)
{
    XTextProperty property{};
    if (!XGetWMName(display, window, &property) || !property.value)
        return false;
    const std::string title(reinterpret_cast<const char *>(property.value), property.nitems);
    XFree(property.value);
    return title.compare(0, prefix.size(), prefix) == 0;
}

// Waits for the window; false when the program exits or the time runs out first.
bool waitForMappedWindow(Display *display, pid_t child, const std::string &prefix)
{
    const double deadline = nowMs() + kMapTimeoutMs;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    while (nowMs() < deadline) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && titleStartsWith(display, event.xmap.window, prefix))
                return true;
        }
        if (waitpid(child, nullptr, WNOHANG) == child) {
            std::fprintf(stderr, "bench_startup_map: the program exited before showing its window\n");
            return false;
        }
        poll(&connection, 1, 50);
    }
    std::fprintf(stderr, "bench_startup_map: no window titled \"%s...\" within %d s\n", prefix.c_str(),
                 kMapTimeoutMs / 1000);
    return false;
}

bool waitForExit(pid_t child, int timeoutMs)
{
    const double deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return true;
        usleep(1000);
    }
    return false;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup_map TITLE-PREFIX PROGRAM [ARGS...]\n");
        return 2;
    }
    const std::string prefix = argv[1];
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_startup_map: cannot open the X display \"%s\"\n", XDisplayName(nullptr));
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double started = nowMs();
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "bench_startup_map: fork: %s\n", std::strerror(errno));
        return 1;
    }
    if (child == 0) {
        close(ConnectionNumber(display));
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execv(argv[2], argv + 2);
        std::fprintf(stderr, "bench_startup_map: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }

    if (!waitForMappedWindow(display, child, prefix)) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }
    const double mapped = nowMs();
    kill(child, SIGTERM);
    if (!waitForExit(child, kCloseTimeoutMs)) {
        std::fprintf(stderr, "bench_startup_map: the program did not exit within %d s of SIGTERM\n",
                     kCloseTimeoutMs / 1000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }
    std::printf("%.0f %.0f\n", mapped - started, nowMs() - mapped);
    XCloseDisplay(display);
    return 0;
}
