#pragma once

#include <filesystem>
#include <vector>

#include "audio/WAVDecoderError.h"

namespace velmarune {

// Reads a whole audio file (any format libsndfile reads: WAV, FLAC, Ogg, MP3)
// and returns it as 16 kHz mono float, first channel only. Meant for
// samples, not recordings of a day: the file is read and converted block by
// block, and audio longer than the limit is refused, whatever its header
// claims. Any thread.
class WAVDecoder {
  public:
    // One hour: 230 MB of samples, far more than any dictation.
    static constexpr double kLongestSeconds = 3600.0;

    // Throws WAVDecoderError, or AudioFileReadError when reading fails midway.
    static std::vector<float> decode(const std::filesystem::path& file,
                                     double longestSeconds = kLongestSeconds);
};

}  // namespace velmarune
