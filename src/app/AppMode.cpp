#include "app/AppMode.h"

namespace velmarune {

std::string appModeRawValue(AppMode mode) {
    switch (mode) {
        case AppMode::idle:
            return "idle";
        case AppMode::dictating:
            return "dictating";
        case AppMode::transcribing:
            return "transcribing";
        case AppMode::pasting:
            return "pasting";
    }
    return "idle";
}

std::optional<AppMode> appModeFromRawValue(std::string_view raw) {
    for (AppMode mode : kAllAppModes) {
        if (appModeRawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

}  // namespace velmarune
