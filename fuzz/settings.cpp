// The settings file reader: any bytes a user, an editor or a crash leaves in
// settings.json.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "foundation/UserDefaults.h"

using velmarune::FileUserDefaults;

namespace {

const std::filesystem::path& folder() {
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() /
                 ("velmarune-fuzz-settings-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // What parses can be written back and reads the same.
    if (auto parsed = FileUserDefaults::parse(text)) {
        const std::string written = parsed->dump(2);
        auto again = FileUserDefaults::parse(written);
        if (!again || *again != *parsed) {
            std::abort();
        }
        // Every typed read of every value, as the application reads them.
        velmarune::MemoryUserDefaults values;
        for (const auto& [key, value] : parsed->items()) {
            values.setDictionary(key, value);
            (void)values.boolValue(key);
            (void)values.integerValue(key);
            (void)values.doubleValue(key);
            (void)values.stringValue(key);
            (void)values.dictionaryValue(key);
        }
    }

    // The file itself: read, then one change saved over it (or beside a
    // malformed one moved aside). Saving syncs the disk, so only one input
    // in eight takes this path.
    if (size % 8 != 0) {
        return 0;
    }
    const auto file = folder() / "settings.json";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    {
        FileUserDefaults defaults(file);
        (void)defaults.stringValue("pttLanguage");
        (void)defaults.integerValue("pttDwellMs");
        if (!defaults.setString("pttLanguage", "he") ||
            defaults.stringValue("pttLanguage") != "he") {
            std::abort();
        }
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder(), ec)) {
        std::filesystem::remove(entry.path(), ec);
    }
    return 0;
}
