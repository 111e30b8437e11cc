#include "TestModel.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include <ggml.h>
#include <whisper.h>

namespace velmarune::testmodel {

namespace {

constexpr uint32_t kMagic = 0x67676d6c;  // "ggml"
constexpr int32_t kVocab = 51866;        // multilingual, 100 languages
constexpr int32_t kTextTokens = 50257;   // ids 0 ... 50256 are text
constexpr int32_t kEot = 50257;
constexpr int32_t kSot = 50258;
constexpr int32_t kFirstTimestamp = 50365;      // <|0.00|>
constexpr int32_t kLastTimestamp = kVocab - 1;  // <|30.00|>
constexpr int32_t kTargetToken = 300;
constexpr int32_t kAudioCtx = 1500;
constexpr int32_t kFftBins = 201;
constexpr int32_t kQ5FileType = 8;  // whisper's "mostly Q5_0"

// whisper.cpp's id for a language code.
int languageId(const std::string& code) {
    const int id = whisper_lang_id(code.c_str());
    if (id < 0) {
        throw std::runtime_error("make-test-model: unsupported language " + code);
    }
    return id;
}

// Binary output; a file that cannot be written throws.
struct Writer {
    explicit Writer(const std::filesystem::path& file)
        : path(file), out(file, std::ios::binary | std::ios::trunc) {
        check("cannot write ");
    }
    void check(const char* what) {
        if (!out) {
            throw std::runtime_error("make-test-model: " + (what + path.string()));
        }
    }
    template <typename T>
    void put(T value) {
        bytes(&value, sizeof value);
    }
    void bytes(const void* data, size_t size) {
        out.write(static_cast<const char*>(data), std::streamsize(size));
    }

    std::filesystem::path path;
    std::ofstream out;
};

enum class Fill { zero, one, random };
// F32 for vectors, F16 for the convolutions, the model's weight type for matrices.
enum class Storage { f32, f16, matrix };

struct TensorWriter {
    Writer& out;
    const Options& options;
    std::minstd_rand random;  // fully specified: the same weights on every platform
    bool known;

    // `ne` in ggml order (fastest first). Written a few rows at a time: the
    // largest real matrices hold tens of millions of values.
    void tensor(const std::string& name, std::vector<int32_t> ne, Storage storage, Fill fill,
                const std::map<int64_t, float>& overrides = {}) {
        int64_t count = 1;
        for (int32_t n : ne) {
            count *= n;
        }
        const ggml_type type = storage == Storage::f32 ? GGML_TYPE_F32
                               : storage == Storage::f16 || options.weights == WeightType::f16
                                   ? GGML_TYPE_F16
                                   : GGML_TYPE_Q5_0;
        out.put<int32_t>(static_cast<int32_t>(ne.size()));
        out.put<int32_t>(static_cast<int32_t>(name.size()));
        out.put<int32_t>(static_cast<int32_t>(type));
        for (int32_t n : ne) {
            out.put<int32_t>(n);
        }
        out.bytes(name.data(), name.size());
        // Random matrices get a scale that keeps activations in range.
        const float scale = 1.0F / std::sqrt(static_cast<float>(ne[0]));
        const int64_t row = ne[0];
        const int64_t rowsPerChunk = std::max<int64_t>(1, (int64_t{1} << 20) / row);
        std::vector<float> values;
        std::vector<char> packed;
        for (int64_t first = 0; first < count; first += rowsPerChunk * row) {
            const int64_t n = std::min(rowsPerChunk * row, count - first);
            values.assign(size_t(n), fill == Fill::one ? 1.0F : 0.0F);
            if (fill == Fill::random && !known) {
                for (float& v : values) {
                    v = (static_cast<float>(random() - 1) / 1073741823.0F - 1.0F) * scale;
                }
            }
            for (auto it = overrides.lower_bound(first);
                 it != overrides.end() && it->first < first + n; ++it) {
                values[size_t(it->first - first)] = it->second;
            }
            packed.resize(ggml_row_size(type, row) * size_t(n / row));
            out.bytes(packed.data(), ggml_quantize_chunk(type, values.data(), packed.data(), 0,
                                                         n / row, row, nullptr));
        }
    }
};

void writeLayer(TensorWriter& t, const std::string& prefix, int32_t s, bool cross) {
    const std::string a = prefix + (cross ? "cross_attn" : "attn");
    const std::string ln = prefix + (cross ? "cross_attn_ln" : "attn_ln");
    t.tensor(ln + ".weight", {s}, Storage::f32, Fill::one);
    t.tensor(ln + ".bias", {s}, Storage::f32, Fill::zero);
    t.tensor(a + ".query.weight", {s, s}, Storage::matrix, Fill::random);
    t.tensor(a + ".query.bias", {s}, Storage::f32, Fill::zero);
    t.tensor(a + ".key.weight", {s, s}, Storage::matrix, Fill::random);
    t.tensor(a + ".value.weight", {s, s}, Storage::matrix, Fill::random);
    t.tensor(a + ".value.bias", {s}, Storage::f32, Fill::zero);
    t.tensor(a + ".out.weight", {s, s}, Storage::matrix, Fill::random);
    t.tensor(a + ".out.bias", {s}, Storage::f32, Fill::zero);
}

void writeMlp(TensorWriter& t, const std::string& prefix, int32_t s) {
    t.tensor(prefix + "mlp_ln.weight", {s}, Storage::f32, Fill::one);
    t.tensor(prefix + "mlp_ln.bias", {s}, Storage::f32, Fill::zero);
    t.tensor(prefix + "mlp.0.weight", {s, 4 * s}, Storage::matrix, Fill::random);
    t.tensor(prefix + "mlp.0.bias", {4 * s}, Storage::f32, Fill::zero);
    t.tensor(prefix + "mlp.2.weight", {4 * s, s}, Storage::matrix, Fill::random);
    t.tensor(prefix + "mlp.2.bias", {s}, Storage::f32, Fill::zero);
}

}  // namespace

std::optional<Dimensions> dimensionsNamed(const std::string& name) {
    static const std::map<std::string, Dimensions> sizes = {
        {"tiny", {384, 6, 4, 4, 448}},
        {"base", {512, 8, 6, 6, 448}},
        {"small", {768, 12, 12, 12, 448}},
        {"large-v3", {1280, 20, 32, 32, 448, 128}},
        {"large-v3-turbo", {1280, 20, 32, 4, 448, 128}},
    };
    const auto it = sizes.find(name);
    return it == sizes.end() ? std::nullopt : std::optional(it->second);
}

void writeModel(const std::filesystem::path& file, const Options& options) {
    const Dimensions& d = options.dims;
    if (d.nState <= 0 || d.nHead <= 0 || d.nState % d.nHead != 0 || d.nTextCtx < 16 ||
        d.nAudioLayer <= 0 || d.nTextLayer <= 0 || d.nMels <= 0 ||
        (options.weights == WeightType::q5_0 && d.nState % 32 != 0)) {
        throw std::runtime_error("make-test-model: unusable dimensions");
    }
    const bool known = options.transcript.has_value();
    Writer out(file);
    out.put<uint32_t>(kMagic);
    // F32 matrices would abort in the convolution: F16 is the plainest type.
    const int32_t fileType = options.weights == WeightType::f16
                                 ? 1
                                 : kQ5FileType + GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR;
    for (int32_t v : {kVocab, kAudioCtx, d.nState, d.nHead, d.nAudioLayer, d.nTextCtx, d.nState,
                      d.nHead, d.nTextLayer, d.nMels, fileType}) {
        out.put<int32_t>(v);
    }

    // Mel filters: triangles spread over the spectrum.
    out.put<int32_t>(d.nMels);
    out.put<int32_t>(kFftBins);
    for (int32_t m = 0; m < d.nMels; ++m) {
        const float centre =
            static_cast<float>(m + 1) * (kFftBins - 1) / static_cast<float>(d.nMels + 1);
        for (int32_t b = 0; b < kFftBins; ++b) {
            out.put<float>(std::max(0.0F, 1.0F - std::fabs(static_cast<float>(b) - centre) / 2.5F));
        }
    }

    // Vocabulary: every single byte (any UTF-8 prompt tokenizes), the target
    // phrase, and unique fillers up to the last text token. The byte 0x20 is
    // the exact " " token that blank suppression looks up.
    out.put<int32_t>(kTextTokens);
    for (int32_t id = 0; id < kTextTokens; ++id) {
        std::string word;
        if (id < 256) {
            word = std::string(1, static_cast<char>(id));
        } else if (id == kTargetToken && known) {
            word = *options.transcript;
        } else {
            word = "\x01" + std::to_string(id);
        }
        out.put<uint32_t>(static_cast<uint32_t>(word.size()));
        out.bytes(word.data(), word.size());
    }

    TensorWriter t{out, options, std::minstd_rand(options.seed + 1), known};
    const int32_t s = d.nState;
    t.tensor("encoder.positional_embedding", {s, kAudioCtx}, Storage::f32, Fill::random);
    t.tensor("encoder.conv1.weight", {3, d.nMels, s}, Storage::f16, Fill::random);
    t.tensor("encoder.conv1.bias", {1, s}, Storage::f32, Fill::zero);
    t.tensor("encoder.conv2.weight", {3, s, s}, Storage::f16, Fill::random);
    t.tensor("encoder.conv2.bias", {1, s}, Storage::f32, Fill::zero);
    t.tensor("encoder.ln_post.weight", {s}, Storage::f32, Fill::one);
    t.tensor("encoder.ln_post.bias", {s}, Storage::f32, Fill::zero);
    for (int32_t i = 0; i < d.nAudioLayer; ++i) {
        const std::string prefix = "encoder.blocks." + std::to_string(i) + ".";
        writeMlp(t, prefix, s);
        writeLayer(t, prefix, s, false);
    }

    t.tensor("decoder.positional_embedding", {s, d.nTextCtx}, Storage::f32, Fill::random);
    // Known transcript: with the final layer norm below, the logits are
    // element 0 of each token's embedding at every step. The target wins step
    // 0 (EOT is blank-suppressed there and the 30 s timestamp is masked by the
    // initial-timestamp limit), the 30 s timestamp step 1, and decoding ends
    // without temperature fallback: margins of 10 or more keep it greedy.
    std::map<int64_t, float> logits;
    if (known) {
        // An empty transcript opens with <|0.00|> instead, so the window
        // closes with no text at all (and no segment).
        logits[int64_t{options.transcript->empty() ? kFirstTimestamp : kTargetToken} * s] = 30.0F;
        logits[int64_t{kEot} * s] = 40.0F;
        logits[int64_t{kLastTimestamp} * s] = 50.0F;
        if (options.biasedLanguage) {
            logits[int64_t{kSot + 1 + languageId(*options.biasedLanguage)} * s] = 20.0F;
        }
    }
    // Q5_0 keeps these exactly: a block's scale is its largest value / 16.
    t.tensor("decoder.token_embedding.weight", {s, kVocab}, Storage::matrix, Fill::random, logits);
    std::map<int64_t, float> firstOnly{{0, 1.0F}};
    t.tensor("decoder.ln.weight", {s}, Storage::f32, known ? Fill::zero : Fill::one);
    t.tensor("decoder.ln.bias", {s}, Storage::f32, Fill::zero,
             known ? firstOnly : std::map<int64_t, float>{});
    for (int32_t i = 0; i < d.nTextLayer; ++i) {
        const std::string prefix = "decoder.blocks." + std::to_string(i) + ".";
        writeMlp(t, prefix, s);
        writeLayer(t, prefix, s, false);
        writeLayer(t, prefix, s, true);
    }
    out.out.close();
    out.check("write failed for ");
}

std::filesystem::path cachedModel(const Options& options) {
    std::filesystem::path folder;
    if (const char* dir = std::getenv("VELMARUNE_CACHE_DIR"); dir && *dir) {
        folder = dir;
    } else if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) {
        folder = std::filesystem::path(xdg) / "velmarune";
    } else {
        const char* home = std::getenv("HOME");
        folder = std::filesystem::path(home ? home : "/tmp") / ".cache" / "velmarune";
    }
    folder /= "test-models";
    // The name holds every option (FNV-1a of the texts), so a file is never
    // reused for other options.
    const Dimensions& d = options.dims;
    uint64_t hash = 14695981039346656037ULL;
    for (const std::string& text :
         {options.transcript.value_or("\x02random"), options.biasedLanguage.value_or("")}) {
        for (unsigned char c : text + '\0') {
            hash = (hash ^ c) * 1099511628211ULL;
        }
    }
    char name[160];
    std::snprintf(name, sizeof name, "s%d-h%d-a%d-t%d-c%d-m%d-%s-%u-%016llx.bin", d.nState, d.nHead,
                  d.nAudioLayer, d.nTextLayer, d.nTextCtx, d.nMels,
                  options.weights == WeightType::f16 ? "f16" : "q5_0", options.seed,
                  static_cast<unsigned long long>(hash));
    const auto path = folder / name;
    if (std::filesystem::exists(path)) {
        return path;
    }
    std::filesystem::create_directories(folder);
    // Written aside and renamed, so that an interrupted run or a second
    // process never sees half a model.
    const auto partial = folder / (std::string(name) + "." + std::to_string(::getpid()) + ".part");
    try {
        writeModel(partial, options);
    } catch (...) {
        std::filesystem::remove(partial);
        throw;
    }
    std::filesystem::rename(partial, path);
    return path;
}

}  // namespace velmarune::testmodel
