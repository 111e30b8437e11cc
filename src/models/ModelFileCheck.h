#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Error.h"

namespace velmarune {

// Why a file must not be handed to whisper.cpp, whose loader trusts every
// number in it. what() is the user-facing text.
class ModelFileError : public Error {
  public:
    enum class Kind { notWhisperModel, damaged, unreadable };

    // `file` is empty when the bytes came from memory.
    static ModelFileError notWhisperModel(const std::string& file = {}) {
        return {Kind::notWhisperModel, (file.empty() ? "" : file + " is ") + "not a whisper model"};
    }
    static ModelFileError damaged(const std::string& detail, const std::string& file = {}) {
        return {Kind::damaged, "model file is damaged: " + (file.empty() ? "" : file + ": ") +
                                   detail + " (re-download it)"};
    }
    static ModelFileError unreadable(const std::string& file, const std::string& reason) {
        return {Kind::unreadable, "cannot read the model file " + file + ": " + reason};
    }

    Kind kind() const { return m_kind; }

  private:
    ModelFileError(Kind kind, const std::string& text) : Error(text), m_kind(kind) {}

    Kind m_kind;
};

// What a checked model file holds.
struct ModelFileSummary {
    int32_t vocabularySize = 0;
    int32_t audioLayers = 0;
    int32_t textLayers = 0;
    int32_t state = 0;
    int32_t weightType = 0;  // ggml type id of the large matrices
    int32_t tensors = 0;

    bool operator==(const ModelFileSummary&) const = default;
};

// Reads a legacy ggml whisper model in full (header, mel filters,
// vocabulary, every tensor record) without trusting any count in it: every
// number is bounded, every tensor the model needs must be present once, with
// its shape and type, and its data inside the file. Reads only the headers,
// skipping over the weights, so a 3 GB model is checked in milliseconds.
// Throws ModelFileError.
ModelFileSummary checkModelBytes(std::string_view bytes);

// The same for a file. `expectedSize` is the catalogue's size of the file,
// when it is a catalogue download. Errors name the file.
ModelFileSummary checkModelFile(const std::filesystem::path& file,
                                std::optional<int64_t> expectedSize = std::nullopt);

namespace modelfile {

// Storage of one ggml tensor type: elements per block and bytes per block.
struct TypeLayout {
    int64_t blockElements = 0;
    int64_t blockBytes = 0;
};
// The types a whisper model file may use; nothing for any other id.
std::optional<TypeLayout> typeLayout(int32_t type);

}  // namespace modelfile

}  // namespace velmarune
