#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include <ggml.h>

#include "TestModel.h"
#include "models/ModelFileCheck.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

std::string generated(const testmodel::Options& options) {
    TempDir folder;
    testmodel::writeModel(folder / "model.bin", options);
    return readFile(folder / "model.bin");
}

// The default test model, generated once for the suite.
const std::string& smallModel() {
    static const std::string bytes = generated({});
    return bytes;
}

void putInt32(std::string& bytes, size_t offset, int32_t value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Offsets of the legacy layout: the magic, 11 header counts, the two filter counts.
constexpr size_t kHeader = 4;
constexpr size_t kFilters = kHeader + 11 * 4;
constexpr size_t kVocabulary = kFilters + 8 + 80 * 201 * 4;

size_t headerField(int index) {
    return kHeader + static_cast<size_t>(index) * 4;
}
// The record of the first tensor (two dimensions) begins 20 bytes before its name.
size_t firstTensorRecord(const std::string& bytes) {
    return bytes.find("encoder.positional_embedding") - 20;
}

ModelFileError::Kind failureKind(const std::string& bytes, std::string* text = nullptr) {
    try {
        checkModelBytes(bytes);
    } catch (const ModelFileError& error) {
        if (text) {
            *text = error.what();
        }
        return error.kind();
    }
    ADD_FAILURE() << "accepted";
    return ModelFileError::Kind::unreadable;
}

TEST(ModelFileCheck, AcceptsEveryModelTheGeneratorWrites) {
    testmodel::Options layered;
    layered.dims = {128, 4, 2, 3, 32};
    layered.seed = 7;
    testmodel::Options known;
    known.transcript = " Hello world.";
    known.biasedLanguage = "he";
    // The published large models' layout in miniature: many layers whose
    // F32 vectors once counted too much, Q5_0 matrices, 128 mel bins.
    testmodel::Options deep = known;
    deep.dims = {256, 4, 32, 4, 16, 128};
    deep.weights = testmodel::WeightType::q5_0;
    struct Case {
        testmodel::Options options;
        int audioLayers, textLayers, weightType;
    };
    for (const auto& c :
         {Case{{}, 1, 1, 1}, Case{layered, 2, 3, 1}, Case{known, 1, 1, 1}, Case{deep, 32, 4, 6}}) {
        const std::string bytes = generated(c.options);
        const ModelFileSummary summary = checkModelBytes(bytes);
        EXPECT_EQ(summary.vocabularySize, 51866);
        EXPECT_EQ(summary.audioLayers, c.audioLayers);
        EXPECT_EQ(summary.textLayers, c.textLayers);
        EXPECT_EQ(summary.weightType, c.weightType);
        EXPECT_EQ(summary.tensors, 7 + 15 * c.audioLayers + 4 + 24 * c.textLayers);
    }
}

TEST(ModelFileCheck, RefusesDamagedAndHostileFiles) {
    const std::string& good = smallModel();
    const size_t first = firstTensorRecord(good);
    using Edit = std::function<void(std::string&)>;
    struct Case {
        const char* what;
        Edit edit;
        ModelFileError::Kind kind;
        const char* detail;
    };
    const auto notModel = ModelFileError::Kind::notWhisperModel;
    const auto damaged = ModelFileError::Kind::damaged;
    const Case cases[] = {
        {"two bytes", [](std::string& b) { b.resize(2); }, notModel, ""},
        {"another format", [](std::string& b) { b.replace(0, 4, "GGUF"); }, notModel, ""},
        {"cut in the header", [](std::string& b) { b.resize(20); }, damaged,
         "the file ends inside the header"},
        {"cut in the filters", [](std::string& b) { b.resize(kFilters + 100); }, damaged,
         "the file ends inside the mel filters"},
        {"header but no tensors", [&](std::string& b) { b.resize(first); }, damaged,
         "the file holds no weights"},
        {"cut inside the last tensor", [](std::string& b) { b.resize(b.size() - 1); }, damaged,
         "the file ends inside tensor 'decoder.blocks.0.cross_attn.out.bias'"},
        {"trailing bytes", [](std::string& b) { b += "abc"; }, damaged,
         "the file ends inside a tensor record"},
        {"zero heads", [](std::string& b) { putInt32(b, headerField(3), 0); }, damaged,
         "the number of audio heads is 0"},
        {"heads that do not divide the state",
         [](std::string& b) { putInt32(b, headerField(7), 3); }, damaged,
         "the state does not divide among the attention heads"},
        {"huge dimension count", [&](std::string& b) { putInt32(b, first, 0x7fffffff); }, damaged,
         "a tensor has 2147483647 dimensions"},
        {"negative extent", [&](std::string& b) { putInt32(b, first + 12, -64); }, damaged,
         "tensor 'encoder.positional_embedding' has the shape [-64, 1500] instead of [64, 1500]"},
        {"unknown tensor type", [&](std::string& b) { putInt32(b, first + 8, 99); }, damaged,
         "tensor 'encoder.positional_embedding' has type 99 instead of 0"},
        {"huge vocabulary count", [](std::string& b) { putInt32(b, kVocabulary, 0x7ffffff0); },
         damaged, "the vocabulary holds 2147483632 tokens"},
        {"odd vocabulary size", [](std::string& b) { putInt32(b, headerField(0), 100); }, damaged,
         "a vocabulary of 100 tokens is not whisper's"},
        {"unknown file type", [](std::string& b) { putInt32(b, headerField(10), 5); }, damaged,
         "unknown weight type 5"},
        {"more layers than tensors", [](std::string& b) { putInt32(b, headerField(4), 2); },
         damaged, "the file is too short for its 3 layers"},
        {"a renamed tensor", [](std::string& b) { b[b.find("decoder.ln.bias") + 8] = 'X'; },
         damaged, "unknown tensor 'decoder.Xn.bias'"},
        {"mismatched mel filters", [](std::string& b) { putInt32(b, kFilters + 4, 200); }, damaged,
         "the mel filters do not match the model"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.edit(bytes);
        std::string text;
        EXPECT_EQ(failureKind(bytes, &text), c.kind);
        if (c.kind == damaged) {
            EXPECT_EQ(text,
                      std::string("model file is damaged: ") + c.detail + " (re-download it)");
        } else {
            EXPECT_EQ(text, "not a whisper model");
        }
    }
}

TEST(ModelFileCheck, RandomBytesAfterTheMagicAreRefused) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::string bytes = smallModel().substr(0, 4);
        bytes.resize(4 + random() % 100000);
        for (size_t i = 4; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(random());
        }
        EXPECT_EQ(failureKind(bytes), ModelFileError::Kind::damaged);
    }
}

TEST(ModelFileCheck, TheTypeTableMatchesGgml) {
    for (int32_t type = 0; type < GGML_TYPE_COUNT; ++type) {
        if (auto layout = modelfile::typeLayout(type)) {
            SCOPED_TRACE(type);
            EXPECT_EQ(layout->blockElements, ggml_blck_size(static_cast<ggml_type>(type)));
            EXPECT_EQ(layout->blockBytes,
                      static_cast<int64_t>(ggml_type_size(static_cast<ggml_type>(type))));
        }
    }
    EXPECT_FALSE(modelfile::typeLayout(GGML_TYPE_COUNT));
}

TEST(ModelFileCheck, AFileNamesItselfAndMustHaveTheCatalogueSize) {
    TempDir folder;
    const auto model = folder / "model.bin";
    const auto wave = folder / "sound.wav";
    writeFile(model, smallModel());
    writeFile(wave, "RIFF....WAVE");
    EXPECT_EQ(checkModelFile(model, static_cast<int64_t>(smallModel().size())).tensors, 50);
    const std::string size = std::to_string(smallModel().size());
    struct Case {
        std::filesystem::path file;
        std::optional<int64_t> size;
        std::string text;
    };
    const Case cases[] = {
        {model, 574041195,
         "model file is damaged: " + model.string() + ": " + size +
             " bytes instead of 574041195 (re-download it)"},
        {wave, std::nullopt, wave.string() + " is not a whisper model"},
        {folder / "missing.bin", std::nullopt,
         "cannot read the model file " + (folder / "missing.bin").string() +
             ": No such file or directory"},
        {folder.path(), std::nullopt,
         "cannot read the model file " + folder.path().string() + ": not a regular file"},
    };
    for (const Case& c : cases) {
        try {
            checkModelFile(c.file, c.size);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ModelFileError& error) {
            EXPECT_EQ(std::string(error.what()), c.text);
        }
    }
}

}  // namespace
}  // namespace velmarune
