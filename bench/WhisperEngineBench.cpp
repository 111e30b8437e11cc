// Speed and memory of the whisper engine wrapper:
//  - wrapper overhead: WhisperEngine::transcribe against whisper.cpp's own
//    whisper-cli on the same model, audio, threads and decoding settings;
//  - trimming pays: 3 s of speech + 5 s of room noise, trimmed or not;
//  - load time and resident memory of two engines.
// Models are generated on the fly (real dimensions, known transcript so
// decoding is deterministic and never falls back).
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>

#include "SyntheticSpeech.h"
#include "TestModel.h"
#include "audio/TrailingSilence.h"
#include "recognition/WhisperEngine.h"

namespace {

using namespace velmarune;

std::filesystem::path benchFolder() {
    return std::filesystem::path(VELMARUNE_BINARY_DIR) / "bench-models";
}

std::filesystem::path model(const std::string& size, bool knownTranscript) {
    const auto path = benchFolder() / (size + (knownTranscript ? "-known" : "-random") + ".bin");
    if (!std::filesystem::exists(path)) {
        std::filesystem::create_directories(benchFolder());
        testmodel::Options options;
        if (size != "test") {
            options.dims = *testmodel::dimensionsNamed(size);
        }
        if (knownTranscript) {
            options.transcript = " Hello world.";
            options.biasedLanguage = "en";
        }
        testmodel::writeModel(path, options);
    }
    return path;
}

// 3 s of voiced sound at speech level, then 5 s of room noise.
std::vector<float> speechThenNoise() {
    return bench::syntheticDictation(3.0, 5.0);
}

int threads() {
    return static_cast<int>(std::min(8U, std::max(1U, std::thread::hardware_concurrency())));
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::map<std::string, double> g_figures;

#ifdef VELMARUNE_WHISPER_CLI
// whisper-cli's own figure for one run: its total time less its load time
// (state set-up, reading the file, mel, encoder and decoder), in ms.
double whisperCliMs(const std::filesystem::path& wav) {
    const std::string command = std::string(VELMARUNE_WHISPER_CLI) + " -m " +
                                model("base", true).string() + " -f " + wav.string() +
                                " -l en -bs 1 -sns -t " + std::to_string(threads()) +
                                " --prompt '" + kEnglishPrompt + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::array<char, 512> line{};
    double total = 0;
    double load = 0;
    while (pipe && fgets(line.data(), line.size(), pipe)) {
        const std::string text(line.data());
        auto figure = [&](const char* label) {
            return std::stod(text.substr(text.find('=', text.find(label)) + 1));
        };
        if (text.find("total time =") != std::string::npos) {
            total = figure("total time");
        } else if (text.find("load time =") != std::string::npos) {
            load = figure("load time");
        }
    }
    if (pipe) {
        pclose(pipe);
    }
    return total > 0 ? total - load : -1;
}

// The engine and whisper-cli in alternation, so that load from other
// processes on the machine falls on both alike. The reported time is the
// engine's; the counters give both medians and their ratio.
void BM_WrapperOverhead(benchmark::State& state) {
    const auto wav = benchFolder() / "speech-then-noise.wav";
    const auto audio = speechThenNoise();
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* out = sf_open(wav.c_str(), SFM_WRITE, &info);
    sf_writef_float(out, audio.data(), static_cast<sf_count_t>(audio.size()));
    sf_close(out);
    const auto engine = WhisperEngine::create(model("base", true));
    std::vector<double> engineMs;
    std::vector<double> cliMs;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(engine->transcribe(audio, "en", true, 0.0F, 0.0F));
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        state.SetIterationTime(ms / 1000.0);
        engineMs.push_back(ms);
        const double cli = whisperCliMs(wav);
        if (cli < 0) {
            state.SkipWithError("whisper-cli printed no timings");
            return;
        }
        cliMs.push_back(cli);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    state.counters["engine_ms"] = median(engineMs);
    state.counters["cli_ms"] = median(cliMs);
    state.counters["ratio"] = median(engineMs) / median(cliMs);
}
BENCHMARK(BM_WrapperOverhead)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);
#endif

// Trimmed against untrimmed, on random weights of real dimensions (the
// decoder then behaves as it does on real audio, fallbacks included).
void BM_TrimmingPays(benchmark::State& state) {
    const bool trimmed = state.range(0) != 0;
    const auto engine = WhisperEngine::create(model("tiny", false));
    auto audio = speechThenNoise();
    if (trimmed) {
        audio =
            TrailingSilence::trim(audio, TrailingSilence::frameMeans(audio), MicMode::standard, 0)
                .samples;
    }
    state.counters["audio_s"] = static_cast<double>(audio.size()) / 16000.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(engine->transcribe(audio, "en", true, 0.0F, 0.0F));
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_TrimmingPays)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// How long a decode runs on after its task is cancelled mid-way.
void BM_CancelStopsDecode(benchmark::State& state) {
    const auto engine = WhisperEngine::create(model("base", true));
    const auto audio = speechThenNoise();
    for (auto _ : state) {
        CancellationToken token;
        std::chrono::steady_clock::time_point returned;
        std::thread decode([&] {
            try {
                engine->transcribe(audio, "en", true, 0.0F, 0.0F, token);
            } catch (const DecodeCancelled&) {
            }
            returned = std::chrono::steady_clock::now();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto cancelledAt = std::chrono::steady_clock::now();
        token.cancel();
        decode.join();
        state.SetIterationTime(std::chrono::duration<double>(returned - cancelledAt).count());
    }
}
BENCHMARK(BM_CancelStopsDecode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Two engines side by side, as the application keeps them.
void BM_LoadTwoEngines(benchmark::State& state, const std::string& size) {
    const auto path = model(size, true);
    double rssMiB = 0;
    for (auto _ : state) {
        // Freed engines leave memory with the allocator: the first pair shows the real growth.
        const long before = residentKiB();
        const auto start = std::chrono::steady_clock::now();
        auto first = WhisperEngine::create(path);
        auto second = WhisperEngine::create(path);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        rssMiB = std::max(rssMiB, static_cast<double>(residentKiB() - before) / 1024.0);
        state.counters["file_MiB"] = static_cast<double>(first->modelSize()) / 1048576.0;
    }
    state.counters["rss_MiB"] = rssMiB;
}
BENCHMARK_CAPTURE(BM_LoadTwoEngines, test, std::string("test"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_LoadTwoEngines, base, std::string("base"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
