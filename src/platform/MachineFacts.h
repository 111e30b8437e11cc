#pragma once

#include <filesystem>

#include "requirements/SystemFacts.h"

namespace velmarune {

// Gathers the facts the requirements check judges. Synchronous; every probe
// inside is bounded (the sound server gets a second or two at most).
class MachineFacts {
  public:
    virtual ~MachineFacts() = default;
    // `modelsFolder` need not exist yet: its nearest existing parent is measured.
    virtual SystemFacts gather(const std::filesystem::path& modelsFolder) = 0;
};

}  // namespace velmarune
