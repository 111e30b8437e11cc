#include "audio/WAVDecoder.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/Log.h"

namespace velmarune {

namespace {
constexpr double kTargetRateHz = 16000.0;
// Samples read and converted at a time, whatever the channel count.
constexpr sf_count_t kBlockSamples = 1 << 20;
constexpr size_t kConvertedBlock = 65536;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct SoxrCloser {
    void operator()(soxr* resampler) const { soxr_delete(resampler); }
};

template <typename T>
void grow(std::vector<T>& buffer, size_t size, const char* what) {
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        throw WAVDecoderError::cannotConvert(what);
    }
}
}  // namespace

std::vector<float> WAVDecoder::decode(const std::filesystem::path& path, double longestSeconds) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file || info.channels < 1 || info.samplerate < 1) {
        throw WAVDecoderError::cannotOpen(path);
    }
    if (info.frames <= 0) {
        throw WAVDecoderError::noAudio();
    }
    // A header can claim hours in a few bytes (a low sample rate, a huge
    // frame count): refuse before converting anything.
    const double sourceRateHz = info.samplerate;
    const double claimedSeconds = static_cast<double>(info.frames) / sourceRateHz;
    if (claimedSeconds > longestSeconds) {
        throw WAVDecoderError::tooLong(claimedSeconds, longestSeconds);
    }

    std::unique_ptr<soxr, SoxrCloser> resampler;
    if (sourceRateHz != kTargetRateHz) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        resampler.reset(
            soxr_create(sourceRateHz, kTargetRateHz, 1, &error, &io, &quality, &runtime));
        if (error != nullptr || !resampler) {
            throw WAVDecoderError::cannotConvert(error ? error : "resampler init failed");
        }
    }

    const auto channels = static_cast<size_t>(info.channels);
    const sf_count_t blockFrames = std::max<sf_count_t>(1, kBlockSamples / info.channels);
    std::vector<float> interleaved;
    grow(interleaved, static_cast<size_t>(blockFrames) * channels, "source buffer alloc failed");
    std::vector<float> mono(static_cast<size_t>(blockFrames));
    std::vector<float> out;
    // A minute at most up front: a header may claim more than the file holds.
    out.reserve(static_cast<size_t>(std::min(claimedSeconds, 60.0) * kTargetRateHz) + 1024);
    // The resampler fills this as often as a block needs (a 1 Hz source
    // makes 16 000 samples of each one).
    std::vector<float> converted(resampler ? kConvertedBlock : 0);
    // Feeds `count` samples (none: the end of input) through the resampler.
    auto convert = [&](const float* samples, size_t count) {
        if (!resampler) {
            out.insert(out.end(), samples, samples + count);
            return;
        }
        for (;;) {
            size_t consumed = 0;
            size_t produced = 0;
            const soxr_error_t error = soxr_process(resampler.get(), samples, count, &consumed,
                                                    converted.data(), converted.size(), &produced);
            if (error != nullptr) {
                throw WAVDecoderError::cannotConvert(error);
            }
            out.insert(out.end(), converted.begin(),
                       converted.begin() + static_cast<std::ptrdiff_t>(produced));
            if (consumed == 0 && produced == 0 && samples != nullptr) {
                return;  // nothing moves: never spin
            }
            if (consumed > 0) {
                samples += consumed;
                count -= consumed;
            }
            // Input is taken whole; at the end, the filter is drained.
            if (samples != nullptr ? count == 0 : produced == 0) {
                return;
            }
        }
    };

    sf_count_t read = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), blockFrames);
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
            throw AudioFileReadError(sf_strerror(file.get()));
        }
        if (got <= 0) {
            break;
        }
        read += got;
        // Some containers hold more than they announce.
        if (static_cast<double>(read) / sourceRateHz > longestSeconds) {
            throw WAVDecoderError::tooLong(static_cast<double>(read) / sourceRateHz,
                                           longestSeconds);
        }
        for (sf_count_t i = 0; i < got; ++i) {
            mono[static_cast<size_t>(i)] = interleaved[static_cast<size_t>(i) * channels];
        }
        try {
            convert(mono.data(), static_cast<size_t>(got));
        } catch (const std::bad_alloc&) {
            throw WAVDecoderError::cannotConvert("destination buffer alloc failed");
        }
    }
    // Some containers announce more frames than they hold; keep what was read.
    if (read <= 0) {
        throw WAVDecoderError::noAudio();
    }
    convert(nullptr, 0);

    Logger("WAVDecoder")
        .info("Decoded %{public}u frames @ %{public}fHz -> 16kHz mono, %{public}ld samples",
              static_cast<uint32_t>(read), sourceRateHz, static_cast<int64_t>(out.size()));
    return out;
}

}  // namespace velmarune
