#include "support/TestModels.h"

#include <unistd.h>
#include <fstream>
#include <mutex>
#include <vector>

#include "TestModel.h"

namespace velmarune::testing {

namespace {

std::filesystem::path folder() {
    return std::filesystem::path(VELMARUNE_BINARY_DIR) / "test-models";
}

void generate(TestModel model, const std::filesystem::path& path) {
    testmodel::Options options;
    switch (model) {
        case TestModel::english:
            options.transcript = std::string(" ") + kEnglishTestTranscript;
            options.biasedLanguage = "en";
            break;
        case TestModel::hebrew:
            options.transcript = std::string(" ") + kHebrewTestTranscript;
            options.biasedLanguage = "he";
            break;
        case TestModel::silent:
            options.transcript = "";
            break;
        case TestModel::corrupt:
            // Not a model at all (a sound file picked by mistake).
            std::ofstream(path, std::ios::binary)
                << "RIFF\x24\x00\x00\x00WAVEfmt " << std::string(4000, '\0');
            return;
    }
    testmodel::writeModel(path, options);
}

}  // namespace

std::filesystem::path testModelPath(TestModel model) {
    static std::recursive_mutex mutex;
    std::lock_guard lock(mutex);
    static const char* const names[] = {"english.bin", "hebrew.bin", "silent.bin", "corrupt.bin"};
    const auto path = folder() / names[static_cast<int>(model)];
    if (!std::filesystem::exists(path)) {
        std::filesystem::create_directories(folder());
        // Written aside and renamed, so parallel suites never read half a file.
        const auto partial = path.string() + ".partial." + std::to_string(::getpid());
        generate(model, partial);
        std::filesystem::rename(partial, path);
    }
    return path;
}

}  // namespace velmarune::testing
