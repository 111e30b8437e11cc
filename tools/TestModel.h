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
    int32_t nMels = 80;  // 128 from large-v3 on
};

// Real dimensions of the published model sizes, for speed benchmarks:
// "tiny", "base", "small", "large-v3", "large-v3-turbo".
std::optional<Dimensions> dimensionsNamed(const std::string& name);

// How the large matrices are stored (the rest is F32, the convolutions F16),
// as in the published files.
enum class WeightType { f16, q5_0 };

struct Options {
    Dimensions dims;
    // Known-transcript mode: every decode yields exactly this text (one
    // segment), whatever the audio. Empty text gives no segments.
    std::optional<std::string> transcript;
    // A language that detection picks with a probability of about 1 (known-transcript mode).
    std::optional<std::string> biasedLanguage;
    // Random weights otherwise, from this seed.
    uint32_t seed = 1;
    WeightType weights = WeightType::f16;
};

// Writes a model in the legacy ggml format whisper.cpp loads (magic,
// hyper-parameters, mel filters, vocabulary, named tensors). The same
// options always give the same bytes. Throws std::runtime_error on failure.
void writeModel(const std::filesystem::path& file, const Options& options);

// The model for `options` in a cache folder shared by every checkout
// ($VELMARUNE_CACHE_DIR, else $XDG_CACHE_HOME/velmarune or ~/.cache/velmarune,
// then test-models/), written on first use: real sizes take gigabytes and
// minutes, so they are never part of a build folder or the repository.
std::filesystem::path cachedModel(const Options& options);

}  // namespace velmarune::testmodel
