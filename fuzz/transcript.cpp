// Transcript clean-up: whatever text a decoder loop produces. The first three
// bytes give the segment count and the duration.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "recognition/TranscriptCleanup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::optional<int64_t> segments =
        data[0] == 0xff ? std::nullopt : std::optional<int64_t>(data[0]);
    const double seconds = (data[1] * 256 + data[2]) / 100.0;
    const std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
    const velmarune::CleanupResult result = velmarune::cleanUpTranscript(text, seconds, segments);
    // Collapsing only ever removes text.
    if (result.text.size() > text.size() || result.collapsedWords < 0 ||
        !std::isfinite(result.compressionRatio) || result.compressionRatio < 0) {
        std::abort();
    }
    return 0;
}
