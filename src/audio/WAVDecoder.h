#pragma once

#include <filesystem>
#include <vector>

#include "audio/WAVDecoderError.h"

namespace velmarune {

// Reads a whole audio file (any format libsndfile reads: WAV, FLAC, Ogg, MP3)
// and returns it as 16 kHz mono float, first channel only. Meant for short
// samples: the file is read and converted in one pass. Any thread.
class WAVDecoder {
  public:
    // Throws WAVDecoderError, or AudioFileReadError when reading fails midway.
    static std::vector<float> decode(const std::filesystem::path& file);
};

}  // namespace velmarune
