// The model file check: it must never crash, never allocate without bound,
// and accept every model the test generator writes. The first byte picks
// the mode: raw bytes, edits of a valid model, or a generated model.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "TestModel.h"
#include "models/ModelFileCheck.h"

using namespace velmarune;

namespace {

std::filesystem::path scratch() {
    return std::filesystem::temp_directory_path() /
           ("velmarune-fuzz-model-" + std::to_string(::getpid()) + ".bin");
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A small valid model: the edits below start from it.
const std::string& baseModel() {
    static const std::string bytes = [] {
        testmodel::Options options;
        options.dims = {4, 2, 1, 1, 16};
        testmodel::writeModel(scratch(), options);
        std::string model = readAll(scratch());
        std::filesystem::remove(scratch());
        checkModelBytes(model);  // throws (and so fails the run) if the base is refused
        return model;
    }();
    return bytes;
}

void checkQuietly(std::string_view bytes) {
    try {
        checkModelBytes(bytes);
    } catch (const ModelFileError&) {
    }
}

// Any options the generator takes must give a model the check accepts.
void generated(const uint8_t* data, size_t size) {
    auto byte = [&](size_t i) { return i < size ? data[i] : uint8_t{0}; };
    testmodel::Options options;
    const int32_t heads = 1 + byte(0) % 4;
    options.dims = {heads * (1 + byte(1) % 3), heads, 1 + byte(2) % 2, 1 + byte(3) % 2,
                    16 + byte(4) % 32};
    options.seed = byte(5);
    static const char* const languages[] = {"en", "he", "de", "nl"};
    if (byte(6) % 2) {
        options.transcript =
            std::string(reinterpret_cast<const char*>(data) + std::min<size_t>(size, 8),
                        size - std::min<size_t>(size, 8));
        if (byte(7) % 2) {
            options.biasedLanguage = languages[byte(7) / 2 % 4];
        }
    }
    testmodel::writeModel(scratch(), options);
    const std::string model = readAll(scratch());
    try {
        checkModelBytes(model);
        checkModelFile(scratch(), static_cast<int64_t>(model.size()));
    } catch (const ModelFileError& error) {
        std::fprintf(stderr, "generated model refused: %s\n", error.what());
        std::abort();
    }
    std::filesystem::remove(scratch());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0] % 32;
    ++data;
    --size;
    if (mode == 31) {
        generated(data, size);
    } else if (mode >= 8) {
        // Edits: each five bytes overwrite one byte of the model at an
        // offset (little-endian), and a final lone byte cuts it there.
        std::string model = baseModel();
        size_t i = 0;
        for (; i + 5 <= size; i += 5) {
            uint32_t offset = 0;
            std::memcpy(&offset, data + i, 4);
            model[offset % model.size()] = static_cast<char>(data[i + 4]);
        }
        if (i < size) {
            model.resize(model.size() * data[i] / 256);
        }
        checkQuietly(model);
    } else {
        checkQuietly({reinterpret_cast<const char*>(data), size});
    }
    return 0;
}
