#pragma once

#include <filesystem>
#include <vector>

namespace velmarune {

// Reads any audio file libsndfile understands into 16 kHz mono float samples
// (first channel, resampled with soxr). Throws velmarune::Error with a
// readable message when the file cannot be read.
// A stand-in for the terminal command until the audio layer's decoder lands.
std::vector<float> readAudioFileSamples(const std::filesystem::path& file);

}  // namespace velmarune
