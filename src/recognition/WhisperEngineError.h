#pragma once

#include <cstdint>
#include <string>

#include "foundation/Error.h"

namespace velmarune {

// Failures of the whisper engine; what() is the user-facing text.
class WhisperEngineError : public Error {
  public:
    enum class Kind {
        modelLoadFailed,
        transcribeFailed,
        languageDetectionFailed,
        languageDetectionUnknownId
    };

    static WhisperEngineError modelLoadFailed(const std::string& path) {
        return {Kind::modelLoadFailed, "whisper_init_from_file_with_params failed for " + path,
                path, 0};
    }
    // The installation lacks the ggml CPU module for this processor.
    static WhisperEngineError engineCodeMissing(const std::string& problem) {
        return {Kind::modelLoadFailed, problem, {}, 0};
    }
    static WhisperEngineError transcribeFailed(int32_t code) {
        return {Kind::transcribeFailed,
                "whisper_full returned non-zero code " + std::to_string(code),
                {},
                code};
    }
    static WhisperEngineError languageDetectionFailed(int32_t code) {
        return {Kind::languageDetectionFailed,
                "whisper_lang_auto_detect failed with code " + std::to_string(code),
                {},
                code};
    }
    static WhisperEngineError languageDetectionUnknownId(int32_t id) {
        return {Kind::languageDetectionUnknownId,
                "whisper_lang_auto_detect returned unknown id " + std::to_string(id),
                {},
                id};
    }

    Kind kind() const { return m_kind; }
    const std::string& path() const { return m_path; }  // modelLoadFailed
    int32_t code() const { return m_code; }             // the code or id of the other cases

  private:
    WhisperEngineError(Kind kind, const std::string& message, std::string path, int32_t code)
        : Error(message), m_kind(kind), m_path(std::move(path)), m_code(code) {}

    Kind m_kind;
    std::string m_path;
    int32_t m_code;
};

// Thrown when a decode stopped because its task was cancelled; the caller
// discards the dictation rather than reporting a failure.
class DecodeCancelled : public Error {
  public:
    DecodeCancelled() : Error("decode cancelled") {}
};

}  // namespace velmarune
