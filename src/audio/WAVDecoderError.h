#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "foundation/Error.h"

namespace velmarune {

// Why an audio file could not be turned into 16 kHz mono samples.
class WAVDecoderError : public Error {
  public:
    enum class Kind { cannotOpen, cannotConvert, noAudio, tooLong };

    static WAVDecoderError cannotOpen(const std::filesystem::path& file) {
        return {Kind::cannotOpen, "Cannot open audio file at " + file.string()};
    }
    static WAVDecoderError cannotConvert(const std::string& message) {
        return {Kind::cannotConvert, "Audio conversion failed: " + message};
    }
    static WAVDecoderError noAudio() { return {Kind::noAudio, "File contained zero audio frames"}; }
    static WAVDecoderError tooLong(double seconds, double limitSeconds) {
        return {Kind::tooLong, "Audio file is too long: " + duration(seconds) + " (the limit is " +
                                   duration(limitSeconds) + ")"};
    }

    Kind kind() const { return m_kind; }

  private:
    // "90 s", "12 minutes", "5.6 hours".
    static std::string duration(double seconds) {
        char text[32];
        if (seconds < 120) {
            std::snprintf(text, sizeof text, "%.0f s", seconds);
        } else if (seconds < 7200) {
            std::snprintf(text, sizeof text, "%.0f minutes", seconds / 60);
        } else {
            std::snprintf(text, sizeof text, "%.1f hours", seconds / 3600);
        }
        return text;
    }

    WAVDecoderError(Kind kind, const std::string& text) : Error(text), m_kind(kind) {}

    Kind m_kind;
};

// Reading the file failed after it was opened; the reader's own text.
class AudioFileReadError : public Error {
  public:
    using Error::Error;
};

}  // namespace velmarune
