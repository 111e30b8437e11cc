// Text delivery figures: the cost of a paste around its fixed 30 ms keystroke
// delay, and the snapshot of a 1 MiB text clipboard. With DISPLAY set (and
// xclip installed) the X11 clipboard is measured as well.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "delivery/ClipboardPaster.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/fake/FakeKeyboard.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Pasteboard.h"

using namespace velmarune;

namespace {

// From insert to the keystroke posted, less the fixed 0.03 s delay (virtual
// time): the work the paster itself adds.
void BM_InsertToKeystrokeOverhead(benchmark::State& state) {
    ManualMainQueue clock;
    SerialQueue queue(kClipboardSnapshotQueueName);
    queue.start();
    FakePasteboard pasteboard;
    pasteboard.userCopy({{{"UTF8_STRING", std::string(1024, 'x')}}});
    int posts = 0;
    auto paster = std::make_shared<ClipboardPaster>(
        ClipboardPaster::Dependencies{pasteboard, clock, queue, [&] { ++posts; }, {}});
    for (auto _ : state) {
        state.PauseTiming();
        paster->prepare();
        // Let the snapshot finish as it would while the user speaks.
        queue.sync([] {});
        state.ResumeTiming();
        paster->insert("a transcript of a few words", true, nullptr);
        clock.advance(ClipboardPaster::kKeystrokeDelaySeconds);
        state.PauseTiming();
        clock.advance(10);  // restore, outside the measured part
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(posts);
    queue.stop();
}
BENCHMARK(BM_InsertToKeystrokeOverhead)->Unit(benchmark::kMicrosecond);

void BM_SnapshotOneMiBText(benchmark::State& state) {
    SerialQueue queue(kClipboardSnapshotQueueName);
    queue.start();
    FakePasteboard pasteboard;
    pasteboard.userCopy(
        {{{"UTF8_STRING", std::string(1 << 20, 'x')}, {"text/html", std::string(1 << 20, 'y')}}});
    for (auto _ : state) {
        auto snapshot =
            ClipboardSnapshot::start(pasteboard, queue, ClipboardPaster::kSnapshotBudgetBytes);
        snapshot->waitUntilDone(5.0);
        benchmark::DoNotOptimize(snapshot->bytes());
    }
    queue.stop();
}
BENCHMARK(BM_SnapshotOneMiBText)->Unit(benchmark::kMillisecond);

// ---- X11, when a display is there ----

pid_t g_xclip = -1;
std::unique_ptr<X11Pasteboard> g_x11;

bool x11Ready() {
    if (g_x11) {
        return true;
    }
    if (!std::getenv("DISPLAY") || std::system("command -v xclip >/dev/null 2>&1") != 0) {
        return false;
    }
    const std::string file = "/tmp/velmarune-bench-clip.txt";
    std::ofstream(file) << std::string(1 << 20, 'x');
    g_x11 = std::make_unique<X11Pasteboard>();
    if (!g_x11->start("")) {
        g_x11.reset();
        return false;
    }
    g_xclip = fork();
    if (g_xclip == 0) {
        freopen("/dev/null", "w", stdout);  // -quiet reports every request there
        execlp("xclip", "xclip", "-quiet", "-selection", "clipboard", "-i", file.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 200 && g_x11->changeCount() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return g_x11->changeCount() > 0;
}

void BM_X11SnapshotOneMiBText(benchmark::State& state) {
    if (!x11Ready()) {
        state.SkipWithError("no DISPLAY or no xclip");
        return;
    }
    SerialQueue queue(kClipboardSnapshotQueueName);
    queue.start();
    for (auto _ : state) {
        auto snapshot =
            ClipboardSnapshot::start(*g_x11, queue, ClipboardPaster::kSnapshotBudgetBytes);
        snapshot->waitUntilDone(5.0);
        if (snapshot->bytes() < (1 << 20)) {
            state.SkipWithError("snapshot incomplete");
            break;
        }
    }
    queue.stop();
}
BENCHMARK(BM_X11SnapshotOneMiBText)->Unit(benchmark::kMillisecond)->UseRealTime();

// The main thread's share of a paste on X11: the write (taking ownership) and
// the keystroke. The 0.03 s delay sits between them.
void BM_X11WriteAndKeystroke(benchmark::State& state) {
    if (!x11Ready()) {
        state.SkipWithError("no DISPLAY or no xclip");
        return;
    }
    X11Keyboard keystroke;
    if (!keystroke.start("")) {
        state.SkipWithError("no XTEST");
        return;
    }
    for (auto _ : state) {
        PasteboardItem item;
        item.data.emplace_back(kTransientPasteboardType, "");
        item.data.emplace_back("UTF8_STRING", "a transcript");
        std::vector<PasteboardItem> items;
        items.push_back(std::move(item));
        g_x11->setItems(std::move(items));
        keystroke.post(PasteChord::controlV);
    }
}
BENCHMARK(BM_X11WriteAndKeystroke)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_xclip > 0) {
        kill(g_xclip, SIGTERM);
        waitpid(g_xclip, nullptr, 0);
    }
    g_x11.reset();
    return 0;
}
