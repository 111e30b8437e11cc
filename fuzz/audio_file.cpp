// Audio file decoding as `velmarune transcribe` does it: any bytes named as
// the audio file.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "audio/WAVDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("velmarune-fuzz-audio-" + std::to_string(::getpid()) + ".wav");
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    try {
        velmarune::WAVDecoder::decode(file);
    } catch (const velmarune::Error&) {
    }
    return 0;
}
