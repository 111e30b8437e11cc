// The evdev chord listener's cost: CPU time and wake-ups of its thread while
// the keyboards are idle (it should sleep in epoll and use nothing), and the
// time from a key record on a device to the listener's report.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ProcessCost.h"
#include "platform/evdev/EvdevKeyboardMonitor.h"
#include "platform/evdev/SystemInputDevices.h"

namespace {

// A folder with one recorded keyboard (a FIFO) the benchmark writes to.
struct RecordedKeyboard {
    std::filesystem::path folder;
    int writer = -1;

    RecordedKeyboard() {
        char name[] = "/tmp/velmarune-evdev-bench-XXXXXX";
        folder = ::mkdtemp(name);
        ::mkfifo((folder / "event0").c_str(), 0600);
    }
    ~RecordedKeyboard() {
        if (writer >= 0)
            ::close(writer);
        std::filesystem::remove_all(folder);
    }
    void open() { writer = ::open((folder / "event0").c_str(), O_WRONLY | O_CLOEXEC); }
    void key(uint16_t code, int32_t value) {
        const input_event records[2] = {{{}, EV_KEY, code, value}, {{}, EV_SYN, SYN_REPORT, 0}};
        [[maybe_unused]] ssize_t n = ::write(writer, records, sizeof records);
    }
};

// CPU seconds and context switches of every thread of this process but the caller.
struct ThreadCost {
    double cpuSeconds = 0;
    long switches = 0;
};
ThreadCost otherThreadsCost() {
    ThreadCost cost;
    const std::string self = std::to_string(::gettid());
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == self)
            continue;
        cost.cpuSeconds += static_cast<double>(velmarune::bench::cpuTicks(task.path() / "stat")) /
                           static_cast<double>(sysconf(_SC_CLK_TCK));
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                cost.switches += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return cost;
}

void printIdleCost() {
    RecordedKeyboard keyboard;
    velmarune::EvdevKeyboardMonitor monitor(
        std::make_unique<velmarune::SystemInputDevices>(keyboard.folder));
    if (!monitor.start({})) {
        std::printf("listener did not start: %s\n", monitor.problem().c_str());
        return;
    }
    keyboard.open();
    const double seconds =
        std::getenv("EVDEV_IDLE_SECONDS") ? std::atof(std::getenv("EVDEV_IDLE_SECONDS")) : 10.0;
    const ThreadCost before = otherThreadsCost();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const ThreadCost after = otherThreadsCost();
    std::printf("idle listener over %.0f s: CPU %.3f %% of one core, %ld wake-ups\n", seconds,
                100.0 * (after.cpuSeconds - before.cpuSeconds) / seconds,
                after.switches - before.switches);
    monitor.stop();
}

void BM_KeyRecordToReport(benchmark::State& state) {
    RecordedKeyboard keyboard;
    std::atomic<uint64_t> flags{0};
    velmarune::EvdevKeyboardMonitor monitor(
        std::make_unique<velmarune::SystemInputDevices>(keyboard.folder));
    velmarune::KeyboardMonitor::Handlers handlers;
    handlers.flagsChanged = [&](uint64_t value) { flags = value; };
    if (!monitor.start(handlers)) {
        state.SkipWithError("listener did not start");
        return;
    }
    keyboard.open();
    bool down = false;
    for (auto _ : state) {
        down = !down;
        keyboard.key(KEY_LEFTCTRL, down ? 1 : 0);
        const uint64_t want = down ? 0x40000 : 0;
        while (flags.load() != want) {
        }
    }
    monitor.stop();
}
BENCHMARK(BM_KeyRecordToReport)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    printIdleCost();
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
