#pragma once

#include <filesystem>
#include <string>

#include "foundation/Error.h"

namespace velmarune {

// Why an audio file could not be turned into 16 kHz mono samples.
class WAVDecoderError : public Error {
  public:
    enum class Kind { cannotOpen, cannotConvert, noAudio };

    static WAVDecoderError cannotOpen(const std::filesystem::path& file) {
        return {Kind::cannotOpen, "Cannot open audio file at " + file.string()};
    }
    static WAVDecoderError cannotConvert(const std::string& message) {
        return {Kind::cannotConvert, "Audio conversion failed: " + message};
    }
    static WAVDecoderError noAudio() { return {Kind::noAudio, "File contained zero audio frames"}; }

    Kind kind() const { return m_kind; }

  private:
    WAVDecoderError(Kind kind, const std::string& text) : Error(text), m_kind(kind) {}

    Kind m_kind;
};

// Reading the file failed after it was opened; the reader's own text.
class AudioFileReadError : public Error {
  public:
    using Error::Error;
};

}  // namespace velmarune
