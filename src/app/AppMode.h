#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velmarune {

// What the dictation flow is doing; the whole user interface keys on it.
enum class AppMode { idle, dictating, transcribing, pasting };

inline constexpr std::array<AppMode, 4> kAllAppModes = {AppMode::idle, AppMode::dictating,
                                                        AppMode::transcribing, AppMode::pasting};

// The raw value equals the case name; log lines print it.
std::string appModeRawValue(AppMode mode);
std::optional<AppMode> appModeFromRawValue(std::string_view raw);

}  // namespace velmarune
