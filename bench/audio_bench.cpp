// Audio figures: conversion speed of the capture path (48 kHz stereo float to
// 16 kHz mono) and, with --capture-cpu[=SECONDS], the process CPU time of the
// always-on capture from a real-time virtual microphone on a private
// PulseAudio server (48 kHz stereo float), as a share of one core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "ProcessCost.h"
#include "audio/AudioCaptureEngine.h"
#include "audio/BufferConverter.h"
#include "audio/TrailingSilence.h"
#include "foundation/ManualMainQueue.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "support/PulseRig.h"

namespace {

using namespace velmarune;
using velmarune::bench::processCpuSeconds;

std::vector<float> stereoSignal(size_t frames) {
    std::vector<float> v(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const auto x = static_cast<float>(
            0.3 * std::sin(2 * 3.14159265358979 * 440.0 * static_cast<double>(i) / 48000.0) +
            0.05 * std::sin(static_cast<double>(i) * 0.37));
        v[2 * i] = x;
        v[2 * i + 1] = -x;
    }
    return v;
}

// One block at a time, as the capture stream delivers it.
void BM_Convert48kStereoTo16kMono(benchmark::State& state) {
    const auto blockFrames = static_cast<size_t>(state.range(0));
    const size_t seconds = 10;
    const auto signal = stereoSignal(48000 * seconds);
    const CaptureFormat format{48000, 2, CaptureSampleType::float32, true};
    size_t produced = 0;
    for (auto _ : state) {
        BufferConverter converter(16000);
        for (size_t first = 0; first + blockFrames <= 48000 * seconds; first += blockFrames) {
            auto result = converter.convert(format, signal.data() + first * 2,
                                            blockFrames * 2 * sizeof(float),
                                            static_cast<int64_t>(blockFrames));
            if (result.buffer) {
                produced += result.buffer->size();
            }
        }
    }
    benchmark::DoNotOptimize(produced);
    // Seconds of audio converted per second of CPU: the real-time factor.
    state.counters["xRealtime"] =
        benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Convert48kStereoTo16kMono)
    ->Arg(480)
    ->Arg(960)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// A 60 s recording: 57 s of speech-like bursts, then 3 s of room noise that
// the trim cuts down to 600 ms.
void BM_Trim60sRecording(benchmark::State& state) {
    std::vector<float> samples(60 * 16000);
    uint32_t noise = 1;
    for (size_t i = 0; i < samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float hiss = (static_cast<float>(noise >> 8) / 16777216.0f - 0.5f) * 0.002f;
        const bool speaking = i < 57 * 16000 && (i / 4000) % 3 != 2;
        samples[i] = hiss + (speaking ? 0.2f * std::sin(static_cast<float>(i) * 0.05f) : 0.0f);
    }
    for (auto _ : state) {
        const auto means = TrailingSilence::frameMeans(samples);
        auto result = TrailingSilence::trim(samples, means, MicMode::standard, 8000);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(TrailingSilence::zeroMs(means, 8000));
    }
}
BENCHMARK(BM_Trim60sRecording)->Unit(benchmark::kMicrosecond);

int captureCpu(double seconds) {
    testing::PulseRig rig;
    rig.start();
    rig.addVirtualMic("virtmic", 48000, 2, "float32le", "Virtual Microphone");
    rig.setDefaultSource("virtmic");
    const auto tone = rig.makeTone("tone", 48000, 2, 440, seconds + 5, 0.3);

    ManualMainQueue mainQueue;
    PulseCaptureSession session(mainQueue);
    session.start();
    if (!session.waitUntilConnected(5.0)) {
        std::fprintf(stderr, "no connection to the test server\n");
        return 1;
    }
    MemoryUserDefaults defaults;
    AudioCaptureEngine engine(std::make_shared<AudioRingBuffer>(16000, 65.0), session, defaults);
    if (!engine.startSession()) {
        std::fprintf(stderr, "capture did not start\n");
        return 1;
    }
    const pid_t player = rig.play(tone, "virtmic_out");
    std::this_thread::sleep_for(std::chrono::seconds(1));  // settle

    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    const auto framesBefore = engine.ringBuffer()->totalFramesWritten();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const auto frames = engine.ringBuffer()->totalFramesWritten() - framesBefore;
    const auto stats = engine.statsSnapshot();
    engine.stop();
    testing::PulseRig::waitForExit(player, 0.1);

    std::printf(
        "capture 48 kHz stereo float32 for %.1f s: process CPU %.3f s = %.3f %% of one core\n",
        wall, cpu, 100.0 * cpu / wall);
    std::printf("  frames stored %lld (%.2f s of audio), blocks converted %lld, dropped %lld\n",
                static_cast<long long>(frames), static_cast<double>(frames) / 16000.0,
                static_cast<long long>(stats.converted), static_cast<long long>(stats.dropped));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--capture-cpu", 13) == 0) {
            const double seconds = argv[i][13] == '=' ? std::atof(argv[i] + 14) : 30.0;
            return captureCpu(seconds > 0 ? seconds : 30.0);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
