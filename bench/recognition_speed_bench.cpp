// What the user waits for after key-up with models of the real size: the
// decode step the pipeline runs for a dictation (trim, detection, encoder,
// decoder) on the catalogue's default pair, in each dictation-language mode,
// plus load time and resident memory. Known-transcript models of the real
// dimensions stand in for the published ones (generated once into the cache
// folder): the encoder does the same work, the decoder stops after the
// phrase. Variants run in alternation so that load from other processes
// falls on all of them alike.
//
//   bench_recognition_speed_bench [--size large-v3-turbo|large-v3]
//       [--seconds 5,2,15] [--modes en,auto-en,he,auto-he] [--runs N]
//       [--variants full,faster,noflash,baseline,cpu]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Median.h"
#include "ProcessCost.h"
#include "SyntheticSpeech.h"
#include "TestModel.h"
#include "recognition/DecodeRouter.h"
#include "recognition/WhisperEngine.h"

namespace {

using namespace velmarune;
using velmarune::bench::median;
using velmarune::bench::processCpuSeconds;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        parts.push_back(part);
    }
    return parts;
}

long residentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / (1024 * 1024);
}

// Records what each engine call cost, for the split of one decode.
class Timed : public SpeechRecognizer {
  public:
    explicit Timed(std::shared_ptr<WhisperEngine> engine) : m_engine(std::move(engine)) {}
    const std::string& device() const { return m_engine->device(); }
    Transcription transcribe(const std::vector<float>& samples, const std::string& language,
                             bool englishPrompt, float temperature, float quietThreshold,
                             const CancellationToken& cancel) override {
        auto result = m_engine->transcribe(samples, language, englishPrompt, temperature,
                                           quietThreshold, cancel);
        last = result;
        return result;
    }
    LanguageDetection detectLanguage(const std::vector<float>& samples) override {
        return m_engine->detectLanguage(samples);
    }
    Transcription last;

  private:
    std::shared_ptr<WhisperEngine> m_engine;
};

struct Sample {
    double total = 0, cpu = 0, trim = 0, detect = 0, encode = 0, decode = 0;
    std::string text;
};

std::string arg(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return argv[i + 1];
        }
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // progress shows while it runs for minutes
    const std::string size = arg(argc, argv, "--size", "large-v3-turbo");
    const auto seconds = split(arg(argc, argv, "--seconds", "5"));
    const auto modes = split(arg(argc, argv, "--modes", "en,auto-en"));
    const int runs = std::stoi(arg(argc, argv, "--runs", "3"));
    const auto variants = split(arg(argc, argv, "--variants", "full,faster"));
    const auto dims = testmodel::dimensionsNamed(size);
    if (!dims) {
        std::fprintf(stderr, "unknown --size %s\n", size.c_str());
        return 2;
    }

    // The catalogue's default pair: the Hebrew model in F16, the
    // multilingual one in Q5_0; a second multilingual model hears Hebrew.
    auto modelFile = [&](const char* transcript, const char* language, testmodel::WeightType w) {
        testmodel::Options options;
        options.dims = *dims;
        options.transcript = transcript;
        options.biasedLanguage = language;
        options.weights = w;
        const auto start = Clock::now();
        const auto path = testmodel::cachedModel(options);
        std::printf("model %s (%.0f MiB), ready in %.1f s\n", path.filename().c_str(),
                    static_cast<double>(std::filesystem::file_size(path)) / 1048576.0,
                    msSince(start) / 1000);
        return path;
    };
    const auto hebrewPath = modelFile(" שלום עולם.", "he", testmodel::WeightType::f16);
    const auto englishPath = modelFile(" Hello world.", "en", testmodel::WeightType::q5_0);
    const bool autoHebrew = std::find(modes.begin(), modes.end(), "auto-he") != modes.end();
    const auto hearsHebrewPath = autoHebrew
                                     ? modelFile(" Hello world.", "he", testmodel::WeightType::q5_0)
                                     : std::filesystem::path();

    std::printf("machine: %u logical CPUs, load average ", std::thread::hardware_concurrency());
    std::fflush(stdout);
    std::system("cut -d' ' -f1-3 /proc/loadavg");

    // One engine set per variant; "faster" shares the full variant's
    // engines and switches their setting per call.
    bool fasterOn = false;
    struct EngineSet {
        std::shared_ptr<Timed> hebrew, multilingual, hearsHebrew;
    };
    std::map<std::string, EngineSet> sets;
    const long rssBefore = residentMiB();
    for (const auto& variant : variants) {
        if (variant == "faster" &&
            std::find(variants.begin(), variants.end(), "full") != variants.end()) {
            continue;
        }
        WhisperEngine::Options options;
        options.fasterEncoder = [&fasterOn] { return fasterOn; };
        if (variant == "noflash") {
            options.flashAttention = false;
        } else if (variant == "cpu") {
            options.useGpu = false;  // beside "full", which takes a GPU when there is one
        } else if (variant == "baseline") {
            // As before: one thread per logical CPU.
            options.threads = static_cast<int>(std::min(8U, std::thread::hardware_concurrency()));
        }
        const auto start = Clock::now();
        EngineSet set;
        set.hebrew = std::make_shared<Timed>(WhisperEngine::create(hebrewPath, {}, options));
        const double hebrewMs = msSince(start);
        const auto second = Clock::now();
        set.multilingual = std::make_shared<Timed>(WhisperEngine::create(englishPath, {}, options));
        const double multilingualMs = msSince(second);
        if (autoHebrew) {
            set.hearsHebrew =
                std::make_shared<Timed>(WhisperEngine::create(hearsHebrewPath, {}, options));
        }
        std::printf("[%s] on %s, load: Hebrew %.1f s, multilingual %.1f s; RSS %ld MiB (+%ld)\n",
                    variant.c_str(), set.multilingual->device().c_str(), hebrewMs / 1000,
                    multilingualMs / 1000, residentMiB(), residentMiB() - rssBefore);
        sets[variant] = set;
    }

    std::map<std::string, std::vector<Sample>> results;
    for (int run = 0; run < runs; ++run) {
        for (const auto& length : seconds) {
            const auto audio = bench::syntheticDictation(std::stod(length), 1.0);
            for (const auto& mode : modes) {
                for (const auto& variant : variants) {
                    const EngineSet& set = sets.count(variant) ? sets[variant] : sets["full"];
                    fasterOn = variant == "faster";
                    const auto multilingual =
                        mode == "auto-he" ? set.hearsHebrew : set.multilingual;
                    DecodeRouter router([&](ModelSlot slot) -> std::shared_ptr<SpeechRecognizer> {
                        return slot == ModelSlot::hebrew ? set.hebrew : multilingual;
                    });
                    const std::string setting = mode.starts_with("auto") ? "auto" : mode;
                    const auto start = Clock::now();
                    // With other work on the machine the wall time varies,
                    // the CPU time much less.
                    const double cpuStart = processCpuSeconds();
                    const Transcription t =
                        router.decode(audio, setting, MicMode::standard, 0, CancellationToken());
                    Sample s;
                    s.total = msSince(start);
                    s.cpu = (processCpuSeconds() - cpuStart) * 1000.0;
                    const Timed& engine = t.route->slot == "hebrew" ? *set.hebrew : *multilingual;
                    s.trim = static_cast<double>(t.route->trimMs);
                    s.detect = static_cast<double>(t.route->detectMs.value_or(0));
                    s.encode = static_cast<double>(engine.last.encodeMs.value_or(0));
                    s.decode = static_cast<double>(engine.last.latencyMs) - s.encode;
                    s.text = t.text;
                    const std::string key = length + " s " + mode + " " + variant;
                    results[key].push_back(s);
                    std::printf(
                        "run %d %-22s %7.0f ms, CPU %7.0f ms (trim %.0f, detect %.0f, encode "
                        "%.0f, decode %.0f) \"%s\" via %s\n",
                        run + 1, key.c_str(), s.total, s.cpu, s.trim, s.detect, s.encode, s.decode,
                        s.text.c_str(), t.route->slot.c_str());
                    std::fflush(stdout);
                }
            }
        }
    }

    std::printf("\nmedians over runs 2..%d (run 1 is the first after load)\n", runs);
    for (const auto& [key, samples] : results) {
        std::vector<double> total, cpu, trim, detect, encode, decode;
        for (size_t i = samples.size() > 1 ? 1 : 0; i < samples.size(); ++i) {
            total.push_back(samples[i].total);
            cpu.push_back(samples[i].cpu);
            trim.push_back(samples[i].trim);
            detect.push_back(samples[i].detect);
            encode.push_back(samples[i].encode);
            decode.push_back(samples[i].decode);
        }
        std::printf(
            "%-22s key-up to text %7.0f ms, CPU %7.0f ms (first %7.0f ms, CPU %7.0f ms): trim "
            "%.0f, detect %.0f, encode %.0f, decode %.0f\n",
            key.c_str(), median(total), median(cpu), samples.front().total, samples.front().cpu,
            median(trim), median(detect), median(encode), median(decode));
    }
    return 0;
}
