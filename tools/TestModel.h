#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace velmarune::testmodel {

// Sizes of a whisper model (the loader's 11 hyper-parameters less the fixed ones).
struct Dimensions {
    int32_t nState = 64;  // audio and text state
    int32_t nHead = 2;
    int32_t nAudioLayer = 1;
    int32_t nTextLayer = 1;
    int32_t nTextCtx = 16;
};

// Real dimensions of the published model sizes, for speed benchmarks.
std::optional<Dimensions> dimensionsNamed(const std::string& name);  // "tiny", "base", "small"

struct Options {
    Dimensions dims;
    // Known-transcript mode: every decode yields exactly this text (one
    // segment), whatever the audio. Empty text gives no segments.
    std::optional<std::string> transcript;
    // A language that detection picks with a probability of about 1 (known-transcript mode).
    std::optional<std::string> biasedLanguage;
    // Random weights otherwise, from this seed.
    uint32_t seed = 1;
};

// Writes a model in the legacy ggml format whisper.cpp loads (magic,
// hyper-parameters, mel filters, vocabulary, named F16/F32 tensors). The same
// options always give the same bytes. Throws std::runtime_error on failure.
void writeModel(const std::filesystem::path& file, const Options& options);

}  // namespace velmarune::testmodel
