#include "audio/WAVDecoder.h"

#include <sndfile.h>
#include <soxr.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "foundation/Log.h"

namespace velmarune {

namespace {
constexpr double kTargetRateHz = 16000.0;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
}  // namespace

std::vector<float> WAVDecoder::decode(const std::filesystem::path& path) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file || info.channels < 1 || info.samplerate < 1) {
        throw WAVDecoderError::cannotOpen(path);
    }
    if (info.frames <= 0) {
        throw WAVDecoderError::noAudio();
    }
    // Whole-file buffers: a file beyond 2^32 frames is not a short sample.
    const auto frames = info.frames;
    const auto channels = static_cast<sf_count_t>(info.channels);
    if (frames > std::numeric_limits<uint32_t>::max() ||
        frames > std::numeric_limits<sf_count_t>::max() / channels) {
        throw WAVDecoderError::cannotConvert("source buffer alloc failed");
    }

    std::vector<float> interleaved;
    try {
        interleaved.resize(static_cast<size_t>(frames * channels));
    } catch (const std::bad_alloc&) {
        throw WAVDecoderError::cannotConvert("source buffer alloc failed");
    }
    const sf_count_t read = sf_readf_float(file.get(), interleaved.data(), frames);
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        throw AudioFileReadError(sf_strerror(file.get()));
    }
    // Some containers announce more frames than they hold; keep what was read.
    if (read <= 0) {
        throw WAVDecoderError::noAudio();
    }
    std::vector<float> mono(static_cast<size_t>(read));
    for (size_t i = 0; i < mono.size(); ++i) {
        mono[i] = interleaved[i * static_cast<size_t>(channels)];
    }
    interleaved = {};

    const double sourceRateHz = info.samplerate;
    std::vector<float> out;
    if (sourceRateHz == kTargetRateHz) {
        out = std::move(mono);
    } else {
        const auto capacity =
            static_cast<size_t>(kTargetRateHz / sourceRateHz * static_cast<double>(read) + 1024);
        try {
            out.resize(capacity);
        } catch (const std::bad_alloc&) {
            throw WAVDecoderError::cannotConvert("destination buffer alloc failed");
        }
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        size_t outputDone = 0;
        // One call with the whole input and the end of input: everything the
        // filter holds back is flushed.
        const soxr_error_t error =
            soxr_oneshot(sourceRateHz, kTargetRateHz, 1, mono.data(), mono.size(), nullptr,
                         out.data(), out.size(), &outputDone, &io, &quality, &runtime);
        if (error != nullptr) {
            throw WAVDecoderError::cannotConvert(error);
        }
        out.resize(outputDone);
    }

    Logger("WAVDecoder")
        .info("Decoded %{public}u frames @ %{public}fHz -> 16kHz mono, %{public}ld samples",
              static_cast<uint32_t>(frames), sourceRateHz, static_cast<int64_t>(out.size()));
    return out;
}

}  // namespace velmarune
