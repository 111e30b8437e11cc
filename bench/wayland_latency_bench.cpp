// Key-up to keystroke minus decode on a wlroots desktop against the same
// figure on X11: dictations driven by `velmarune ptt` (as a compositor
// binding drives them) into a terminal, figures from the diagnostic CSV the
// application writes. The Wayland run pastes into foot in a headless sway
// through data-control and a virtual keyboard; the X11 run into an X window
// through the X clipboard and XTest.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "E2EBench.h"
#include "Median.h"
#include "delivery/X11TestClients.h"
#include "dictation/DesktopRig.h"
#include "support/SwayRig.h"

namespace {

using velmarune::bench::median;
using velmarune::testing::DesktopRig;
using velmarune::testing::PasteTarget;
using velmarune::testing::SwayRig;

constexpr int kDictations = 10;

double number(const std::string& text) {
    return text.empty() ? 0.0 : std::stod(text);
}

// Dictates `kDictations` times through the push-to-talk control; the
// medians of key-up -> keystroke - decode and of the pipeline's own share.
std::pair<double, double> dictate(DesktopRig& rig) {
    for (int i = 0; i < kDictations; ++i) {
        rig.runVelmarune({"ptt", "press"}, nullptr);
        rig.speak();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rig.runVelmarune({"ptt", "release"}, nullptr);
        rig.waitForLog("-> paste complete", 30.0);
    }
    auto rows = rig.diagnosticRows();
    for (int i = 0; i < 100 && rows.size() < static_cast<size_t>(kDictations); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rows = rig.diagnosticRows();
    }
    std::vector<double> overhead, own;
    for (auto& row : rows) {
        if (row["outcome"] != "pasted") {
            continue;
        }
        overhead.push_back(number(row["cmdv_ms"]) - number(row["key_up_ms"]) -
                           number(row["decode_ms"]));
        own.push_back(overhead.back() - number(row["detect_ms"]));
    }
    std::printf("  pasted: %zu of %d\n", overhead.size(), kDictations);
    return {median(overhead), median(own)};
}

void BM_KeyUpToKeystrokeWaylandVsX11(benchmark::State& state) {
    for (auto _ : state) {
        std::pair<double, double> x11, wayland;
        {
            DesktopRig rig;
            PasteTarget target("BenchTarget");
            if (!velmarune::bench::startForDictation(rig, target).empty()) {
                state.SkipWithError("the X11 desktop did not start");
                return;
            }
            std::printf("X11 (X clipboard, XTest):\n");
            x11 = dictate(rig);
        }
        {
            SwayRig sway;
            if (!sway.ok()) {
                state.SkipWithError(("no headless sway: " + sway.failure()).c_str());
                return;
            }
            DesktopRig rig;
            // A node that is no keyboard: the push-to-talk control starts dictations.
            std::filesystem::create_directories(sway.dir() / "input");
            velmarune::testing::writeFile(sway.dir() / "input" / "event0", "");
            rig.extraEnvironment = {{"WAYLAND_DISPLAY", sway.waylandSocket()},
                                    {"SWAYSOCK", sway.swaySocket()},
                                    {"VELMARUNE_INPUT_FOLDER", (sway.dir() / "input").string()}};
            if (!rig.ok() || !sway.startTarget("foot", sway.dir() / "typed") ||
                !velmarune::bench::startApplicationForDictation(rig).empty()) {
                state.SkipWithError("the Wayland desktop did not start");
                return;
            }
            std::printf("sway (data-control, virtual keyboard):\n");
            wayland = dictate(rig);
        }
        std::printf("key-up -> keystroke - decode, median: X11 %.0f ms, sway %.0f ms (%+.0f ms)\n",
                    x11.first, wayland.first, wayland.first - x11.first);
        std::printf("  less language detection:            X11 %.0f ms, sway %.0f ms\n", x11.second,
                    wayland.second);
        state.counters["x11_overhead_ms"] = x11.first;
        state.counters["sway_overhead_ms"] = wayland.first;
    }
}
BENCHMARK(BM_KeyUpToKeystrokeWaylandVsX11)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
