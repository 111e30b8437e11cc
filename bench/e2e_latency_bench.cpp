// Dictation latency of the running application, end to end: 20 dictations
// in a private desktop (Xvfb, PulseAudio virtual microphone, generated
// models), figures taken from the diagnostic CSV the application writes.
// Then its idle CPU and resident memory over 60 s.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "E2EBench.h"
#include "delivery/X11TestClients.h"
#include "dictation/DesktopRig.h"

namespace {

using velmarune::bench::cpuTicks;
using velmarune::bench::residentKiB;
using velmarune::testing::DesktopRig;
using velmarune::testing::PasteTarget;

constexpr int kDictations = 20;
constexpr int kIdleSeconds = 60;

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

double number(const std::string& text) {
    return text.empty() ? 0.0 : std::stod(text);
}

void BM_DictationEndToEnd(benchmark::State& state) {
    for (auto _ : state) {
        DesktopRig rig;
        PasteTarget target("BenchTarget");
        if (const std::string failure = velmarune::bench::startForDictation(rig, target);
            !failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
        int pasted = 0;
        for (int i = 0; i < kDictations; ++i) {
            rig.dictate();
            pasted += target.waitForPaste(30.0) ? 1 : 0;
        }
        // A press's row is written once the clipboard has been given back.
        auto rows = rig.diagnosticRows();
        for (int i = 0; i < 100 && rows.size() < static_cast<size_t>(kDictations); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            rows = rig.diagnosticRows();
        }

        std::vector<double> toTranscribed, toKeystroke, overhead, detect, ownOverhead;
        for (auto& row : rows) {
            if (row["outcome"] != "pasted") {
                continue;
            }
            const double keyUp = number(row["key_up_ms"]);
            const double transcribed = number(row["transcribed_ms"]);
            const double keystroke = number(row["cmdv_ms"]);
            toTranscribed.push_back(transcribed - keyUp);
            toKeystroke.push_back(keystroke - transcribed);
            overhead.push_back(keystroke - keyUp - number(row["decode_ms"]));
            detect.push_back(number(row["detect_ms"]));
            // Language detection is recognition work too; `decode_ms` is whisper's
            // transcription alone, so take detection out for the pipeline's own share.
            ownOverhead.push_back(overhead.back() - detect.back());
        }

        const pid_t pid = rig.applicationPid();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const long ticksBefore = cpuTicks(pid);
        long peakKiB = 0;
        for (int s = 0; s < kIdleSeconds; ++s) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            peakKiB = std::max(peakKiB, residentKiB(pid));
        }
        const double cpuPercent = 100.0 * static_cast<double>(cpuTicks(pid) - ticksBefore) /
                                  static_cast<double>(sysconf(_SC_CLK_TCK)) / kIdleSeconds;
        const long endKiB = residentKiB(pid);
        rig.terminateApplication();

        std::printf("dictations pasted: %d of %d (CSV rows 'pasted': %zu)\n", pasted, kDictations,
                    overhead.size());
        std::printf("key-up -> transcribed:          median %.0f ms, p95 %.0f ms\n",
                    percentile(toTranscribed, 0.5), percentile(toTranscribed, 0.95));
        std::printf("transcribed -> keystroke:       median %.0f ms, p95 %.0f ms\n",
                    percentile(toKeystroke, 0.5), percentile(toKeystroke, 0.95));
        std::printf("key-up -> keystroke - decode:   median %.0f ms, p95 %.0f ms\n",
                    percentile(overhead, 0.5), percentile(overhead, 0.95));
        std::printf("  of which language detection:  median %.0f ms, p95 %.0f ms\n",
                    percentile(detect, 0.5), percentile(detect, 0.95));
        std::printf(
            "key-up -> keystroke - decode - detection (pipeline's own): median %.0f ms, "
            "p95 %.0f ms\n",
            percentile(ownOverhead, 0.5), percentile(ownOverhead, 0.95));
        std::printf("idle over %d s: CPU %.2f %%, RSS %.1f MiB (peak %.1f MiB)\n", kIdleSeconds,
                    cpuPercent, static_cast<double>(endKiB) / 1024.0,
                    static_cast<double>(peakKiB) / 1024.0);
        state.counters["overhead_median_ms"] = percentile(overhead, 0.5);
        state.counters["overhead_p95_ms"] = percentile(overhead, 0.95);
        state.counters["own_overhead_median_ms"] = percentile(ownOverhead, 0.5);
        state.counters["idle_cpu_percent"] = cpuPercent;
        state.counters["idle_rss_MiB"] = static_cast<double>(endKiB) / 1024.0;
    }
}
BENCHMARK(BM_DictationEndToEnd)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
