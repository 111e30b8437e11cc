#include "shell/TranscribeCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <optional>

#include <nlohmann/json.hpp>

#include "audio/WAVDecoder.h"
#include "foundation/Paths.h"
#include "foundation/UserDefaults.h"
#include "models/ModelLocator.h"
#include "models/ModelLocatorError.h"
#include "recognition/DecodeRouter.h"
#include "recognition/EngineSettings.h"
#include "recognition/TranscriptCleanup.h"
#include "recognition/WhisperEngine.h"
#include "shell/CommandLine.h"

namespace velmarune {

namespace {

constexpr double kSampleRateHz = 16000.0;

int usage(FILE* out, int status) {
    std::fprintf(out,
                 "usage: velmarune transcribe FILE [--language auto|he|en] [--hebrew-model PATH]\n"
                 "                               [--multilingual-model PATH] [--json]\n"
                 "\n"
                 "Transcribes an audio file as a dictation would be: trims the quiet tail, routes\n"
                 "by language, decodes and cleans up repetition. Without model options the two\n"
                 "model slots of the settings are used. Audio longer than %d minutes is refused.\n",
                 static_cast<int>(WAVDecoder::kLongestSeconds / 60));
    return status;
}

struct Options {
    std::string file;
    std::optional<std::string> language;
    std::map<ModelSlot, std::string> modelPaths;
    bool json = false;
    bool help = false;
};

// Throws UsageError with a line that names what was wrong.
struct UsageError {
    std::string message;
};

Options parse(const std::vector<std::string>& args) {
    Options options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                throw UsageError{arg + " needs a value"};
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--language") {
            options.language = value();
            if (*options.language != "auto" && *options.language != "he" &&
                *options.language != "en") {
                throw UsageError{"unknown language '" + *options.language +
                                 "' (choose auto, he or en)"};
            }
        } else if (arg == "--hebrew-model") {
            options.modelPaths[ModelSlot::hebrew] = value();
        } else if (arg == "--multilingual-model") {
            options.modelPaths[ModelSlot::multilingual] = value();
        } else if (arg.starts_with("-")) {
            throw UsageError{"unknown option '" + arg + "'"};
        } else if (!options.file.empty()) {
            throw UsageError{"one audio file at a time ('" + arg + "' is a second one)"};
        } else {
            options.file = arg;
        }
    }
    if (options.file.empty() && !options.help) {
        throw UsageError{"which audio file?"};
    }
    return options;
}

std::string expandTilde(const std::string& path) {
    if (path.starts_with("~/") || path == "~") {
        if (const char* home = std::getenv("HOME")) {
            return home + path.substr(1);
        }
    }
    return path;
}

const char* slotKey(ModelSlot slot) {
    return slot == ModelSlot::hebrew ? "hebrewModelPath" : "multilingualModelPath";
}

nlohmann::json routeJson(const Transcription::Route& route) {
    nlohmann::json j = {{"language", route.language},   {"slot", route.slot},
                        {"floor", route.floor},         {"threshold", route.threshold},
                        {"trimmedMs", route.trimmedMs}, {"quietTailMs", route.quietTailMs},
                        {"zeroMs", route.zeroMs},       {"trimMs", route.trimMs}};
    j["confidence"] =
        route.confidence ? nlohmann::json(*route.confidence) : nlohmann::json(nullptr);
    j["detectMs"] = route.detectMs ? nlohmann::json(*route.detectMs) : nlohmann::json(nullptr);
    return j;
}

}  // namespace

int runTranscribeCommand(const std::vector<std::string>& args) {
    Options parsed;
    try {
        parsed = parse(args);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "velmarune transcribe: %s\n", error.message.c_str());
        return usage(stderr, 2);
    }
    if (parsed.help) {
        return usage(stdout, 0);
    }
    const Options* options = &parsed;
    try {
        const Paths paths = Paths::fromEnvironment();
        FileUserDefaults defaults(paths.settingsFile(), reportSettingsProblem);
        const ModelLocator locator(defaults, paths);
        const std::string language =
            options->language.value_or(defaults.stringValue("pttLanguage").value_or("auto"));

        // Each slot's engine is loaded the first time the route needs it.
        std::map<ModelSlot, std::shared_ptr<SpeechRecognizer>> loaded;
        DecodeRouter router([&](ModelSlot slot) -> std::shared_ptr<SpeechRecognizer> {
            if (auto it = loaded.find(slot); it != loaded.end()) {
                return it->second;
            }
            std::string path;
            if (auto it = options->modelPaths.find(slot); it != options->modelPaths.end()) {
                path = it->second;
            } else {
                path = defaults.stringValue(slotKey(slot)).value_or("");
            }
            if (path.empty()) {
                return nullptr;  // the router reports the unassigned slot
            }
            path = expandTilde(path);
            std::error_code ec;
            if (!std::filesystem::exists(path, ec) && !ec) {
                throw ModelLocatorError::fileMissing(slot, path);
            }
            return loaded[slot] = WhisperEngine::create(path, locator.catalogueSize(path),
                                                        engineOptionsFrom(defaults));
        });

        const std::vector<float> samples = WAVDecoder::decode(options->file);
        const Transcription transcription =
            router.decode(samples, language, MicMode::standard, 0, {});
        const double seconds = static_cast<double>(samples.size()) / kSampleRateHz;
        const CleanupResult cleaned =
            cleanUpTranscript(transcription.text, seconds, transcription.segments);

        if (options->json) {
            nlohmann::json out = {
                {"text", cleaned.text},
                {"loop", cleaned.loop.value_or(std::string(transcript::kNoLoopLabel))},
                {"collapsedWords", cleaned.collapsedWords},
                {"compressionRatio", cleaned.compressionRatio},
                {"segments", transcription.segments ? nlohmann::json(*transcription.segments)
                                                    : nlohmann::json(nullptr)},
                {"latencyMs", transcription.latencyMs},
                {"route",
                 transcription.route ? routeJson(*transcription.route) : nlohmann::json(nullptr)},
            };
            std::printf("%s\n",
                        out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        } else {
            std::printf("%s\n", cleaned.text.c_str());
        }
        // A full disk or a closed pipe loses the transcript: that is a failure.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "velmarune transcribe: could not write the transcript: %s\n",
                         std::strerror(errno));
            return 1;
        }
        return 0;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velmarune transcribe: not enough memory to transcribe %s\n",
                     options->file.c_str());
    } catch (const std::filesystem::filesystem_error& error) {
        std::fprintf(stderr, "velmarune transcribe: %s: %s\n", error.path1().c_str(),
                     error.code().message().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmarune transcribe: %s\n", error.what());
    }
    return 1;
}

}  // namespace velmarune
