#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Error.h"
#include "models/ModelCatalog.h"

namespace velmarune {

// The rules of the requirements check, decoded from resources/requirements.json.
// Keys the decoder does not know are ignored.
struct Requirements {
    // Classes named in the outcome lists. Processor classes: "x86-64-v3"
    // (AVX2, FMA and F16C), "x86-64" (any other x86_64), "aarch64", otherwise
    // the kernel's architecture name, or "unknown". Session classes: "x11",
    // "xwayland" (a Wayland session with an X server beside it), "wayland"
    // (none beside it), "none" (no display at all).
    struct OutcomeLists {
        std::vector<std::string> ok;  // documentation only: anything unlisted passes
        std::vector<std::string> warn;
        std::vector<std::string> block;

        bool operator==(const OutcomeLists&) const = default;
    };
    struct Memory {
        int64_t okAtLeastGB = 0;  // documentation only
        std::optional<int64_t> warnBelowGB;
        std::optional<int64_t> blockBelowGB;

        bool operator==(const Memory&) const = default;
    };
    struct Disk {
        int64_t marginBytes = 0;
        int64_t blockBelowBytes = 0;  // documentation only
        std::vector<std::string> blockModelSet;
        int64_t warnBelowBytes = 0;  // documentation only
        std::vector<std::string> warnModelSet;

        bool operator==(const Disk&) const = default;
    };
    struct ModelPair {
        std::string hebrew;
        std::string multilingual;

        bool operator==(const ModelPair&) const = default;
    };

    int64_t schemaVersion = 0;
    OutcomeLists session;
    OutcomeLists processor;
    Memory ram;
    Disk disk;
    ModelPair okModels;
    ModelPair warnModels;

    bool operator==(const Requirements&) const = default;

    // Every model ID the rules name, in file order, without repeats.
    std::vector<std::string> modelIDs() const;
};

class RequirementsDecodeError : public Error {
  public:
    using Error::Error;
};

// Decodes the rules; throws RequirementsDecodeError naming the first key that
// is missing, of the wrong type or out of range.
Requirements decodeRequirements(std::string_view json);

// Reads and decodes the rules file. Missing or undecodable: one error line
// under "Requirements" and nothing, so that the check fails open. Model IDs
// that `catalog` does not know are logged and left in (they count for nothing).
std::optional<Requirements> loadRequirements(const std::filesystem::path& file,
                                             const ModelCatalog& catalog);

}  // namespace velmarune
