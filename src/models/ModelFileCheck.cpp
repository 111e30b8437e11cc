#include "models/ModelFileCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

namespace velmarune {

namespace {

constexpr uint32_t kMagic = 0x67676d6c;  // "ggml", little-endian
// English-only, multilingual and large-v3 vocabularies. whisper.cpp derives
// its special tokens and language count from this number: anything else
// makes it index past its tables.
constexpr int32_t kSmallestVocabulary = 51864;
constexpr int32_t kLargestVocabulary = 51866;
constexpr int32_t kFftBins = 201;           // whisper.cpp's 400-point FFT
constexpr int32_t kLargestAudioCtx = 1500;  // one 30 s window
constexpr int32_t kSmallestTextCtx = 16;    // room for the start tokens and some text
// Far beyond any published model; they only keep the arithmetic below small.
constexpr int32_t kLargestState = 65536;
constexpr int32_t kLargestLayers = 1024;
constexpr int32_t kLargestMels = 1024;
constexpr int32_t kLongestName = 256;
constexpr int64_t kLargestElements = 2147483647;  // the loader counts elements in an int32
constexpr int32_t kF32 = 0;
constexpr int32_t kF16 = 1;

// A problem found in the bytes, before the file's name is added.
struct Problem {
    bool notWhisper = false;
    std::string detail;
};

[[noreturn]] void damaged(std::string detail) {
    throw Problem{false, std::move(detail)};
}

// Tensor names come from the file: show them safely and briefly.
std::string printable(std::string_view name) {
    std::string out;
    for (char c : name.substr(0, 64)) {
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return "'" + out + (name.size() > 64 ? "…'" : "'");
}

class Source {
  public:
    virtual ~Source() = default;
    virtual uint64_t size() const = 0;
    // Fills `out` from `offset`; the range is inside size().
    virtual void readAt(uint64_t offset, char* out, size_t count) = 0;
};

class MemorySource : public Source {
  public:
    explicit MemorySource(std::string_view bytes) : m_bytes(bytes) {}
    uint64_t size() const override { return m_bytes.size(); }
    void readAt(uint64_t offset, char* out, size_t count) override {
        std::memcpy(out, m_bytes.data() + offset, count);
    }

  private:
    std::string_view m_bytes;
};

class FileSource : public Source {
  public:
    FileSource(int fd, uint64_t size, std::string name)
        : m_fd(fd), m_size(size), m_name(std::move(name)) {}
    uint64_t size() const override { return m_size; }
    void readAt(uint64_t offset, char* out, size_t count) override {
        while (count > 0) {
            const ssize_t n = ::pread(m_fd, out, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                throw ModelFileError::unreadable(m_name, std::strerror(errno));
            }
            if (n == 0) {
                throw ModelFileError::unreadable(m_name, "it shrank while being read");
            }
            out += n;
            offset += static_cast<uint64_t>(n);
            count -= static_cast<size_t>(n);
        }
    }

  private:
    int m_fd;
    uint64_t m_size;
    std::string m_name;
};

// Sequential reads through a small window, so that the vocabulary's tens of
// thousands of short reads cost a few system calls.
class Cursor {
  public:
    explicit Cursor(Source& source) : m_source(source), m_size(source.size()) {}

    uint64_t position() const { return m_position; }
    uint64_t remaining() const { return m_size - m_position; }

    // Reads `count` bytes, or reports `what` as cut off.
    void read(void* out, size_t count, std::string_view what) {
        if (count > remaining()) {
            damaged("the file ends inside " + std::string(what));
        }
        auto* bytes = static_cast<char*>(out);
        while (count > 0) {
            if (m_position < m_windowStart || m_position >= m_windowStart + m_windowLength) {
                m_windowStart = m_position;
                m_windowLength =
                    static_cast<size_t>(std::min<uint64_t>(m_window.size(), remaining()));
                m_source.readAt(m_windowStart, m_window.data(), m_windowLength);
            }
            const size_t offset = static_cast<size_t>(m_position - m_windowStart);
            const size_t chunk = std::min(count, m_windowLength - offset);
            std::memcpy(bytes, m_window.data() + offset, chunk);
            bytes += chunk;
            m_position += chunk;
            count -= chunk;
        }
    }
    int32_t int32(std::string_view what) {
        int32_t value = 0;
        read(&value, sizeof value, what);
        return value;
    }
    void skip(uint64_t count, std::string_view what) {
        if (count > remaining()) {
            damaged("the file ends inside " + std::string(what));
        }
        m_position += count;
    }

  private:
    Source& m_source;
    uint64_t m_size;
    uint64_t m_position = 0;
    std::array<char, 65536> m_window{};
    uint64_t m_windowStart = 0;
    size_t m_windowLength = 0;
};

// ggml type ids and their storage; the id of the large matrices follows from
// the header's file type.
struct KnownType {
    int32_t id;
    modelfile::TypeLayout layout;
};
constexpr KnownType kTypes[] = {
    {0, {1, 4}},      {1, {1, 2}},      {2, {32, 18}},   {3, {32, 20}},    {6, {32, 22}},
    {7, {32, 24}},    {8, {32, 34}},    {10, {256, 84}}, {11, {256, 110}}, {12, {256, 144}},
    {13, {256, 176}}, {14, {256, 210}}, {30, {1, 2}},
};
// File type (less its quantisation version) → ggml type of the matrices.
constexpr std::pair<int32_t, int32_t> kFileTypes[] = {
    {0, 0},   {1, 1},   {2, 2},   {3, 3},   {7, 8},   {8, 6},   {9, 7},
    {10, 10}, {11, 11}, {12, 12}, {13, 13}, {14, 14}, {24, 30},
};
constexpr int32_t kQuantisationVersionFactor = 1000;

struct Header {
    int32_t vocabulary, audioCtx, audioState, audioHeads, audioLayers, textCtx, textState,
        textHeads, textLayers, mels, fileType;
};

struct Expected {
    std::array<int64_t, 4> ne;
    int32_t type;
    bool seen = false;
};

int64_t elements(const std::array<int64_t, 4>& ne) {
    return ne[0] * ne[1] * ne[2] * ne[3];
}

int64_t dataBytes(const std::array<int64_t, 4>& ne, int32_t type) {
    const modelfile::TypeLayout layout = *modelfile::typeLayout(type);
    return elements(ne) / layout.blockElements * layout.blockBytes;
}

std::string shapeText(const std::array<int64_t, 4>& ne) {
    std::string text = "[";
    int dims = 4;
    while (dims > 1 && ne[static_cast<size_t>(dims - 1)] == 1) {
        --dims;
    }
    for (int i = 0; i < dims; ++i) {
        text += (i ? ", " : "") + std::to_string(ne[static_cast<size_t>(i)]);
    }
    return text + "]";
}

int32_t checkHeader(const Header& h) {
    if (h.vocabulary < kSmallestVocabulary || h.vocabulary > kLargestVocabulary) {
        damaged("a vocabulary of " + std::to_string(h.vocabulary) + " tokens is not whisper's");
    }
    const std::pair<const char*, int32_t> positive[] = {
        {"audio context", h.audioCtx}, {"audio state", h.audioState},
        {"audio heads", h.audioHeads}, {"audio layers", h.audioLayers},
        {"text context", h.textCtx},   {"text state", h.textState},
        {"text heads", h.textHeads},   {"text layers", h.textLayers},
        {"mel bands", h.mels},
    };
    for (const auto& [what, value] : positive) {
        if (value <= 0) {
            damaged(std::string("the number of ") + what + " is " + std::to_string(value));
        }
    }
    if (h.audioState != h.textState) {
        damaged("the audio and text states differ");
    }
    if (h.audioState > kLargestState || h.audioLayers > kLargestLayers ||
        h.textLayers > kLargestLayers || h.mels > kLargestMels) {
        damaged("the header's sizes are out of range");
    }
    if (h.audioState % h.audioHeads != 0 || h.textState % h.textHeads != 0) {
        damaged("the state does not divide among the attention heads");
    }
    if (h.audioCtx > kLargestAudioCtx || h.textCtx < kSmallestTextCtx) {
        damaged("the audio or text context is out of range");
    }
    if (h.fileType < 0) {
        damaged("unknown weight type " + std::to_string(h.fileType));
    }
    const int32_t fileType = h.fileType % kQuantisationVersionFactor;
    for (const auto& [file, type] : kFileTypes) {
        if (file == fileType) {
            const int64_t block = modelfile::typeLayout(type)->blockElements;
            if (h.audioState % block != 0) {
                damaged("the state does not fit the weight type's blocks");
            }
            return type;
        }
    }
    damaged("unknown weight type " + std::to_string(h.fileType));
}

// Every tensor whisper.cpp creates for this header, by name.
std::map<std::string, Expected> expectedTensors(const Header& h, int32_t weights) {
    const int64_t s = h.audioState;
    const int32_t conv = weights == kF32 ? kF32 : kF16;
    std::map<std::string, Expected> t;
    auto add = [&](const std::string& name, std::array<int64_t, 4> ne, int32_t type) {
        t[name] = Expected{ne, type};
    };
    auto layer = [&](const std::string& prefix, bool cross) {
        static const char* const kAttentions[] = {"attn", "cross_attn"};
        for (size_t k = 0; k < (cross ? 2U : 1U); ++k) {
            const std::string a = prefix + kAttentions[k];
            add(a + "_ln.weight", {s, 1, 1, 1}, kF32);
            add(a + "_ln.bias", {s, 1, 1, 1}, kF32);
            add(a + ".query.weight", {s, s, 1, 1}, weights);
            add(a + ".query.bias", {s, 1, 1, 1}, kF32);
            add(a + ".key.weight", {s, s, 1, 1}, weights);
            add(a + ".value.weight", {s, s, 1, 1}, weights);
            add(a + ".value.bias", {s, 1, 1, 1}, kF32);
            add(a + ".out.weight", {s, s, 1, 1}, weights);
            add(a + ".out.bias", {s, 1, 1, 1}, kF32);
        }
        add(prefix + "mlp_ln.weight", {s, 1, 1, 1}, kF32);
        add(prefix + "mlp_ln.bias", {s, 1, 1, 1}, kF32);
        add(prefix + "mlp.0.weight", {s, 4 * s, 1, 1}, weights);
        add(prefix + "mlp.0.bias", {4 * s, 1, 1, 1}, kF32);
        add(prefix + "mlp.2.weight", {4 * s, s, 1, 1}, weights);
        add(prefix + "mlp.2.bias", {s, 1, 1, 1}, kF32);
    };
    add("encoder.positional_embedding", {s, h.audioCtx, 1, 1}, kF32);
    add("encoder.conv1.weight", {3, h.mels, s, 1}, conv);
    add("encoder.conv1.bias", {1, s, 1, 1}, kF32);
    add("encoder.conv2.weight", {3, s, s, 1}, conv);
    add("encoder.conv2.bias", {1, s, 1, 1}, kF32);
    add("encoder.ln_post.weight", {s, 1, 1, 1}, kF32);
    add("encoder.ln_post.bias", {s, 1, 1, 1}, kF32);
    for (int32_t i = 0; i < h.audioLayers; ++i) {
        layer("encoder.blocks." + std::to_string(i) + ".", false);
    }
    add("decoder.positional_embedding", {s, h.textCtx, 1, 1}, kF32);
    add("decoder.token_embedding.weight", {s, h.vocabulary, 1, 1}, weights);
    add("decoder.ln.weight", {s, 1, 1, 1}, kF32);
    add("decoder.ln.bias", {s, 1, 1, 1}, kF32);
    for (int32_t i = 0; i < h.textLayers; ++i) {
        layer("decoder.blocks." + std::to_string(i) + ".", true);
    }
    return t;
}

// The least a layer costs in the file: its tensors' data plus a record of at
// least 24 bytes each (three counts, one dimension, a name of 8 characters).
// The vectors are F32: five of the state's width per attention; the MLP's
// norm (two), its inner bias (four) and its output bias (one).
int64_t leastLayerBytes(int64_t s, int32_t weights, bool cross) {
    const int64_t attention = 4 * dataBytes({s, s, 1, 1}, weights) + 5 * s * 4 + 9 * 24;
    const int64_t mlp = 2 * dataBytes({s, 4 * s, 1, 1}, weights) + 7 * s * 4 + 6 * 24;
    return (cross ? 2 : 1) * attention + mlp;
}

ModelFileSummary check(Source& source) {
    Cursor in(source);
    if (source.size() < 4) {
        throw Problem{true, {}};
    }
    uint32_t magic = 0;
    in.read(&magic, sizeof magic, "the magic number");
    if (magic != kMagic) {
        throw Problem{true, {}};
    }

    Header h{};
    for (int32_t* field :
         {&h.vocabulary, &h.audioCtx, &h.audioState, &h.audioHeads, &h.audioLayers, &h.textCtx,
          &h.textState, &h.textHeads, &h.textLayers, &h.mels, &h.fileType}) {
        *field = in.int32("the header");
    }
    const int32_t weights = checkHeader(h);

    const int32_t filterMels = in.int32("the mel filters");
    const int32_t filterBins = in.int32("the mel filters");
    if (filterMels != h.mels || filterBins != kFftBins) {
        damaged("the mel filters do not match the model");
    }
    in.skip(static_cast<uint64_t>(filterMels) * kFftBins * 4, "the mel filters");

    const int32_t words = in.int32("the vocabulary");
    if (words < 0 || words > kLargestVocabulary) {
        damaged("the vocabulary holds " + std::to_string(words) + " tokens");
    }
    for (int32_t i = 0; i < words; ++i) {
        const int32_t length = in.int32("the vocabulary");
        if (length < 0) {
            damaged("token " + std::to_string(i) + " has a negative length");
        }
        in.skip(static_cast<uint64_t>(length), "the vocabulary");
    }

    // Every size is now bounded, so the products below stay far inside 64 bits.
    const int64_t s = h.audioState;
    const std::pair<const char*, int64_t> largest[] = {
        {"encoder.positional_embedding", s * h.audioCtx},
        {"decoder.positional_embedding", s * h.textCtx},
        {"decoder.token_embedding.weight", s * h.vocabulary},
        {"mlp.0.weight", s * 4 * s},
    };
    for (const auto& [name, count] : largest) {
        if (count > kLargestElements) {
            damaged(std::string("tensor ") + name + " would be too large");
        }
    }
    // The largest tensors and the layers must fit the rest of the file
    // before a table of their tensors is built.
    const int32_t conv = weights == kF32 ? kF32 : kF16;
    const int64_t least = dataBytes({s, h.audioCtx, 1, 1}, kF32) +
                          dataBytes({3, h.mels, s, 1}, conv) + dataBytes({3, s, s, 1}, conv) +
                          dataBytes({s, h.textCtx, 1, 1}, kF32) +
                          dataBytes({s, h.vocabulary, 1, 1}, weights) +
                          h.audioLayers * leastLayerBytes(s, weights, false) +
                          h.textLayers * leastLayerBytes(s, weights, true);
    if (in.remaining() == 0) {
        damaged("the file holds no weights");
    }
    if (static_cast<uint64_t>(least) > in.remaining()) {
        damaged("the file is too short for its " + std::to_string(h.audioLayers + h.textLayers) +
                " layers");
    }

    std::map<std::string, Expected> expected = expectedTensors(h, weights);
    int32_t loaded = 0;
    std::string name;
    while (in.remaining() > 0) {
        const int32_t dims = in.int32("a tensor record");
        const int32_t nameLength = in.int32("a tensor record");
        const int32_t type = in.int32("a tensor record");
        if (dims < 1 || dims > 4) {
            damaged("a tensor has " + std::to_string(dims) + " dimensions");
        }
        if (nameLength < 1 || nameLength > kLongestName) {
            damaged("a tensor name is " + std::to_string(nameLength) + " bytes long");
        }
        std::array<int64_t, 4> ne{1, 1, 1, 1};
        for (int32_t d = 0; d < dims; ++d) {
            ne[static_cast<size_t>(d)] = in.int32("a tensor record");
        }
        name.resize(static_cast<size_t>(nameLength));
        in.read(name.data(), name.size(), "a tensor record");

        auto it = expected.find(name);
        if (it == expected.end()) {
            damaged("unknown tensor " + printable(name));
        }
        Expected& want = it->second;
        if (want.seen) {
            damaged("tensor " + printable(name) + " appears twice");
        }
        if (ne != want.ne) {
            damaged("tensor " + printable(name) + " has the shape " + shapeText(ne) +
                    " instead of " + shapeText(want.ne));
        }
        if (type != want.type) {
            damaged("tensor " + printable(name) + " has type " + std::to_string(type) +
                    " instead of " + std::to_string(want.type));
        }
        want.seen = true;
        in.skip(static_cast<uint64_t>(dataBytes(ne, type)), "tensor " + printable(name));
        ++loaded;
    }
    for (const auto& [tensorName, want] : expected) {
        if (!want.seen) {
            damaged("tensor " + printable(tensorName) + " is missing");
        }
    }
    return ModelFileSummary{h.vocabulary, h.audioLayers, h.textLayers,
                            h.audioState, weights,       loaded};
}

}  // namespace

namespace modelfile {

std::optional<TypeLayout> typeLayout(int32_t type) {
    for (const auto& known : kTypes) {
        if (known.id == type) {
            return known.layout;
        }
    }
    return std::nullopt;
}

}  // namespace modelfile

ModelFileSummary checkModelBytes(std::string_view bytes) {
    MemorySource source(bytes);
    try {
        return check(source);
    } catch (const Problem& problem) {
        if (problem.notWhisper) {
            throw ModelFileError::notWhisperModel();
        }
        throw ModelFileError::damaged(problem.detail);
    }
}

ModelFileSummary checkModelFile(const std::filesystem::path& file,
                                std::optional<int64_t> expectedSize) {
    const std::string name = file.string();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw ModelFileError::unreadable(name, std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw ModelFileError::unreadable(name, std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw ModelFileError::unreadable(name, "not a regular file");
    }
    if (expectedSize && info.st_size != *expectedSize) {
        throw ModelFileError::damaged(
            std::to_string(info.st_size) + " bytes instead of " + std::to_string(*expectedSize),
            name);
    }
    FileSource source(fd, static_cast<uint64_t>(info.st_size), name);
    try {
        return check(source);
    } catch (const Problem& problem) {
        if (problem.notWhisper) {
            throw ModelFileError::notWhisperModel(name);
        }
        throw ModelFileError::damaged(problem.detail, name);
    }
}

}  // namespace velmarune
