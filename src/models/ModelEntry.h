#pragma once

#include <cstdint>
#include <string>

namespace velmarune {

// One downloadable whisper model file.
struct ModelEntry {
    std::string id;  // key of download state and of the requirements report's choice
    std::string displayName;
    std::string description;
    std::string downloadURL;
    std::string sha256;  // of the whole file, 64 lower-case hexadecimal digits
    int64_t fileSizeBytes = 0;
    std::string languageTag;  // "he" or "multilingual": which slot may use it
    std::string fileName;     // inside the models folder

    bool operator==(const ModelEntry&) const = default;
};

}  // namespace velmarune
