#pragma once

#include <set>
#include <string>
#include <variant>

#include "models/ModelSlot.h"

namespace velmarune {

// Loading state of the two speech engines.
struct WhisperStatus {
    enum class Kind { needsModels, failed, notLoaded, loading, ready };

    Kind kind = Kind::notLoaded;
    std::set<ModelSlot> missingSlots;  // needsModels only
    std::string message;               // failed only

    static WhisperStatus needsModels(std::set<ModelSlot> missing) {
        return {Kind::needsModels, std::move(missing), {}};
    }
    static WhisperStatus failed(std::string message) {
        return {Kind::failed, {}, std::move(message)};
    }
    static WhisperStatus notLoaded() { return {Kind::notLoaded, {}, {}}; }
    static WhisperStatus loading() { return {Kind::loading, {}, {}}; }
    static WhisperStatus ready() { return {Kind::ready, {}, {}}; }

    bool operator==(const WhisperStatus&) const = default;
};

}  // namespace velmarune
