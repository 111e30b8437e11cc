// Added input latency of the push-to-talk listener for the focused window:
// time from an XTest key press to the window's KeyPress, on a private Xvfb,
// with and without the XInput2 listener running. The listener grabs nothing,
// so the difference should be within the noise of the X server round trip.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/x11/X11KeyboardMonitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

using Clock = std::chrono::steady_clock;

pid_t g_xvfb = -1;
Display* g_window = nullptr;  // the focused window's own client
Window g_windowId = 0;
Display* g_injector = nullptr;
unsigned g_keycode = 0;

bool startXvfb() {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    g_xvfb = fork();
    if (g_xvfb == 0) {
        dup2(fds[1], 5);
        execlp("Xvfb", "Xvfb", "-displayfd", "5", "-screen", "0", "640x480x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    pollfd fd{fds[0], POLLIN, 0};
    char number[16] = {};
    if (poll(&fd, 1, 10000) <= 0 || read(fds[0], number, sizeof number - 1) <= 0) {
        std::fprintf(stderr, "Xvfb did not start (Debian package: xvfb)\n");
        return false;
    }
    close(fds[0]);
    setenv("DISPLAY", (":" + std::string(number, std::strcspn(number, "\n"))).c_str(), 1);
    return true;
}

bool waitFor(Display* display, int type, XEvent& event, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            if (event.type == type)
                return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left));
    }
}

bool setUpWindow() {
    g_window = XOpenDisplay(nullptr);
    g_injector = XOpenDisplay(nullptr);
    if (!g_window || !g_injector)
        return false;
    const int screen = DefaultScreen(g_window);
    g_windowId = XCreateSimpleWindow(g_window, RootWindow(g_window, screen), 0, 0, 100, 100, 0, 0,
                                     WhitePixel(g_window, screen));
    XSelectInput(g_window, g_windowId, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapRaised(g_window, g_windowId);
    XEvent event;
    if (!waitFor(g_window, MapNotify, event, 5000))
        return false;
    XSetInputFocus(g_window, g_windowId, RevertToParent, CurrentTime);
    XSync(g_window, False);
    g_keycode = XKeysymToKeycode(g_injector, XStringToKeysym("a"));
    return true;
}

// One key press and release; returns the press-to-KeyPress time in seconds.
double pressOnce() {
    XEvent event;
    const auto sent = Clock::now();
    XTestFakeKeyEvent(g_injector, g_keycode, True, CurrentTime);
    XFlush(g_injector);
    waitFor(g_window, KeyPress, event, 2000);
    const auto received = Clock::now();
    XTestFakeKeyEvent(g_injector, g_keycode, False, CurrentTime);
    XFlush(g_injector);
    waitFor(g_window, KeyRelease, event, 2000);
    return std::chrono::duration<double>(received - sent).count();
}

void BM_KeyToFocusedWindow(benchmark::State& state) {
    const bool listening = state.range(0) != 0;
    velmarune::X11KeyboardMonitor monitor;
    std::atomic<int64_t> seen{0};
    if (listening) {
        velmarune::KeyboardMonitor::Handlers handlers;
        handlers.keyDown = [&](int64_t) { seen.fetch_add(1, std::memory_order_relaxed); };
        handlers.flagsChanged = [&](uint64_t) { seen.fetch_add(1, std::memory_order_relaxed); };
        if (!monitor.start(std::move(handlers))) {
            state.SkipWithError("listener did not start");
            return;
        }
    }
    // The machine may be shared: the median and 99th percentile say more than
    // the mean about what one key press costs.
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        samples.push_back(pressOnce());
        state.SetIterationTime(samples.back());
    }
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2] * 1e6;
        state.counters["p99_us"] = samples[samples.size() * 99 / 100] * 1e6;
    }
    monitor.stop();
    state.SetLabel(listening ? "listener running" : "no listener");
    state.counters["listenerKeyDowns"] = static_cast<double>(seen.load());
}
BENCHMARK(BM_KeyToFocusedWindow)
    ->Arg(0)
    ->Arg(1)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000);

}  // namespace

int main(int argc, char** argv) {
    if (!startXvfb() || !setUpWindow()) {
        std::fprintf(stderr, "cannot set up the private X server and window\n");
        if (g_xvfb > 0)
            kill(g_xvfb, SIGTERM);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    XCloseDisplay(g_injector);
    XCloseDisplay(g_window);
    kill(g_xvfb, SIGTERM);
    waitpid(g_xvfb, nullptr, 0);
    return 0;
}
