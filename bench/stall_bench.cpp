// How long the running application's main thread is kept busy while a
// dictation is released and pasted, with every server healthy and with one
// of them stopped (SIGSTOP): the audio server, the clipboard's owner, the
// session bus. Then the idle cost with capture on: CPU over 60 s and
// wake-ups per second (context switches from /proc/PID/task/*/status).
//
// For the dictations the application reports every time its main thread
// answered a timer 1 ms or more late (VELMARUNE_MAIN_THREAD_REPORT_MS); the
// longest of a phase is its stall. Beside it, the most CPU time the thread
// used within one such report: on a loaded machine a stall is often a wait
// for a CPU, not the application's own work.
//
// VELMARUNE_STALL_IDLE_SECONDS shortens the idle measurement;
// VELMARUNE_STALL_LOG=FILE keeps the application's log for a look at what ran.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "E2EBench.h"

namespace {

using velmarune::bench::cpuTicks;
using velmarune::testing::DesktopRig;
using velmarune::testing::PasteTarget;

const int kIdleSeconds = std::getenv("VELMARUNE_STALL_IDLE_SECONDS")
                             ? std::atoi(std::getenv("VELMARUNE_STALL_IDLE_SECONDS"))
                             : 60;
constexpr const char* kBusy = "main thread busy ";

long switches(const std::filesystem::path& status) {
    std::ifstream in(status);
    std::string line;
    long total = 0;
    while (std::getline(in, line)) {
        if (line.find("ctxt_switches:") != std::string::npos) {
            total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

struct Switches {
    long main = 0, all = 0;
};

Switches contextSwitches(pid_t pid) {
    const std::filesystem::path proc = "/proc/" + std::to_string(pid);
    Switches result;
    result.main = switches(proc / "task" / std::to_string(pid) / "status");
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(proc / "task", error)) {
        result.all += switches(task.path() / "status");
    }
    return result;
}

struct Stall {
    double lateMs = 0;  // the longest report: what the user feels
    double ranMs = 0;   // the most the thread itself ran in one report: its own work
};

// The "main thread busy X ms (ran Y ms)" reports in the log after `from`.
Stall longestStall(const std::string& log, size_t from) {
    Stall longest;
    for (size_t at = log.find(kBusy, from); at != std::string::npos; at = log.find(kBusy, at + 1)) {
        char* end = nullptr;
        longest.lateMs =
            std::max(longest.lateMs, std::strtod(log.c_str() + at + std::strlen(kBusy), &end));
        if (const char* ran = std::strstr(end, "(ran "); ran != nullptr && ran - end < 8) {
            longest.ranMs = std::max(longest.ranMs, std::atof(ran + 5));
        }
    }
    return longest;
}

bool startApplication(DesktopRig& rig, benchmark::State& state) {
    rig.startApplication();
    if (!rig.waitForLog("capture engine started", 60.0)) {
        state.SkipWithError("the application did not start its capture");
        return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(5));
    return true;
}

void BM_MainThreadStalls(benchmark::State& state) {
    for (auto _ : state) {
        DesktopRig rig;
        if (!rig.ok()) {
            state.SkipWithError("the desktop rig did not start");
            return;
        }
        rig.installModels();

        // Idle with capture on, as the user runs it (no stall reports).
        if (!startApplication(rig, state)) {
            return;
        }
        const pid_t pid = rig.applicationPid();
        const long ticksBefore = cpuTicks(pid);
        const auto switchesBefore = contextSwitches(pid);
        std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
        const double cpuPercent = 100.0 * static_cast<double>(cpuTicks(pid) - ticksBefore) /
                                  static_cast<double>(sysconf(_SC_CLK_TCK)) / kIdleSeconds;
        const auto switchesAfter = contextSwitches(pid);
        const double wakeups =
            static_cast<double>(switchesAfter.all - switchesBefore.all) / kIdleSeconds;
        std::printf(
            "idle over %d s with capture on: CPU %.2f %% of one core, wake-ups %.1f/s "
            "(main thread %.1f/s)\n",
            kIdleSeconds, cpuPercent, wakeups,
            static_cast<double>(switchesAfter.main - switchesBefore.main) / kIdleSeconds);
        state.counters["idle_cpu_percent"] = cpuPercent;
        state.counters["idle_wakeups_per_s"] = wakeups;
        rig.terminateApplication();

        // Dictations with the main thread watched.
        rig.extraEnvironment["VELMARUNE_MAIN_THREAD_REPORT_MS"] = "1";
        if (!startApplication(rig, state)) {
            return;
        }
        PasteTarget target("BenchTarget");
        if (!target.waitUntilActive(5.0)) {
            state.SkipWithError("the paste target did not become active");
            return;
        }
        struct Phase {
            const char* name;
            std::function<pid_t()> server;
            bool stopBeforePress;
        };
        const std::vector<Phase> phases{
            {"all servers healthy", [] { return pid_t{-1}; }, false},
            {"audio server stopped at release", [&] { return rig.audioServerPid(); }, false},
            {"clipboard owner stopped", [&] { return rig.clipboardOwnerPid(); }, true},
            // Stopped at the release: the speech player itself needs the bus.
            {"session bus stopped at release", [&] { return rig.busPid(); }, false},
        };
        for (const auto& phase : phases) {
            rig.setClipboard(std::string("copy before: ") + phase.name);
            const size_t from = rig.log().size();
            const pid_t server = phase.server();
            if (server > 0 && phase.stopBeforePress) {
                kill(server, SIGSTOP);
            }
            rig.dictate([&] {
                if (server > 0 && !phase.stopBeforePress) {
                    kill(server, SIGSTOP);
                }
            });
            bool pasted = target.waitForPaste(15.0).has_value();
            // The clipboard is given back a second after the paste was read.
            std::this_thread::sleep_for(std::chrono::milliseconds(2500));
            if (server > 0) {
                kill(server, SIGCONT);
            }
            const bool pastedLate = !pasted && target.waitForPaste(30.0).has_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const Stall stall = longestStall(rig.log(), from);
            std::printf(
                "%-34s %-26s main thread's longest stall %.1f ms, longest run in one %.1f ms\n",
                phase.name,
                pasted       ? "pasted"
                : pastedLate ? "pasted once it went on"
                             : "not pasted",
                stall.lateMs, stall.ranMs);
            state.counters[std::string("stall_ms ") + phase.name] = stall.lateMs;
            state.counters[std::string("ran_ms ") + phase.name] = stall.ranMs;
            std::this_thread::sleep_for(std::chrono::seconds(2));
        }
        rig.terminateApplication();
        if (const char* keep = std::getenv("VELMARUNE_STALL_LOG")) {
            std::ofstream(keep) << rig.log();
        }
    }
}
BENCHMARK(BM_MainThreadStalls)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
