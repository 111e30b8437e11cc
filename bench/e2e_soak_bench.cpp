// Resident memory of the running application over 200 dictations in the
// private desktop (Xvfb, PulseAudio virtual microphone, generated models):
// RSS after every 20th dictation and its growth after the first 20.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "E2EBench.h"
#include "delivery/X11TestClients.h"
#include "dictation/DesktopRig.h"

namespace {

using velmarune::bench::residentKiB;
using velmarune::testing::DesktopRig;
using velmarune::testing::PasteTarget;

constexpr int kDictations = 200;
constexpr int kEvery = 20;

double mebibytes(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

void BM_DictationSoak(benchmark::State& state) {
    for (auto _ : state) {
        DesktopRig rig;
        PasteTarget target("SoakTarget");
        if (const std::string failure = velmarune::bench::startForDictation(rig, target);
            !failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
        const pid_t pid = rig.applicationPid();
        std::printf("before the first dictation: RSS %.1f MiB\n", mebibytes(residentKiB(pid)));
        std::vector<long> samples;
        int pasted = 0;
        for (int i = 1; i <= kDictations; ++i) {
            rig.dictate();
            pasted += target.waitForPaste(30.0) ? 1 : 0;
            if (i % kEvery == 0) {
                samples.push_back(residentKiB(pid));
                std::printf("after %3d dictations: RSS %.1f MiB (%d pasted)\n", i,
                            mebibytes(samples.back()), pasted);
                std::fflush(stdout);
            }
        }
        const double growth = mebibytes(samples.back() - samples.front());
        std::printf("growth from dictation %d to %d: %.2f MiB (target: under 5 MiB)\n", kEvery,
                    kDictations, growth);
        const int status = rig.terminateApplication();
        std::printf("pasted %d of %d; exit status %d\n", pasted, kDictations, status);
        state.counters["rss_growth_MiB"] = growth;
        state.counters["pasted"] = pasted;
    }
}
BENCHMARK(BM_DictationSoak)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
