#pragma once

#include <filesystem>
#include <string>

namespace velmarune::testing {

// Whisper models generated into the build folder on first use (deterministic,
// so a model left by an earlier run is reused). Known-transcript models yield
// their phrase for any audio; detection on them picks their language.
enum class TestModel {
    english,  // " Hello world.", detects "en"
    hebrew,   // " שלום עולם.", detects "he"
    silent,   // empty transcript: no segments
    corrupt,  // a sound file, not a model
};

std::filesystem::path testModelPath(TestModel model);

inline constexpr const char* kEnglishTestTranscript = "Hello world.";
inline constexpr const char* kHebrewTestTranscript = "שלום עולם.";

}  // namespace velmarune::testing
