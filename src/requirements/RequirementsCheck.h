#pragma once

#include <optional>
#include <set>
#include <string>

#include "models/ModelCatalog.h"
#include "requirements/CheckReport.h"
#include "requirements/Requirements.h"
#include "requirements/SystemFacts.h"

namespace velmarune {

// The model pair used when the rules file is missing or broken.
inline constexpr const char* kFailOpenHebrewModelID = "ivrit-ai-large-v3";
inline constexpr const char* kFailOpenMultilingualModelID = "whisper-large-v3-turbo-q5";

// The rules' name for this processor: "x86-64-v3", "x86-64", "aarch64", the
// kernel's architecture name for anything else, or "unknown".
std::string processorClass(const SystemFacts::Processor& processor);
// The rules' name for the display situation: "x11", "xwayland", "wayland" or "none".
std::string sessionClass(const SystemFacts::Session& session);

// Turns the facts into the five-line report and the model choice. Pure.
// Without rules every line but the microphone passes and the fixed pair is
// chosen. `installedIDs` are the catalogue entries whose file is present.
CheckReport evaluateRequirements(const SystemFacts& facts, const std::optional<Requirements>& rules,
                                 const std::set<std::string>& installedIDs,
                                 const ModelCatalog& catalog);

}  // namespace velmarune
