#include "audio/TrailingSilence.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace velmarune::TrailingSilence {

namespace {

constexpr size_t kMinimumFrames = 11;
constexpr int64_t kSampleRateHz = 16000;
constexpr int64_t kCutFromTailSamples = 12800;  // a tail of 800 ms or more is cut...
constexpr int64_t kKeptTailSamples = 9600;      // ...down to 600 ms
constexpr int64_t kZeroCheckDelaySamples =
    8000;  // digital silence counts from 500 ms after key-down

int64_t msOf(int64_t samples) {
    return samples * 1000 / kSampleRateHz;
}

// Index of the first frame at or after `sampleOffset`, rounding up.
size_t firstFrameFrom(int64_t sampleOffset) {
    return static_cast<size_t>((std::max<int64_t>(sampleOffset, 0) + kFrameSamples - 1) /
                               kFrameSamples);
}

// Cuts the tail after the frame `lastSpeechFrame` to the kept margin when it is long.
Result cutAfter(const std::vector<float>& samples, size_t lastSpeechFrame, float threshold,
                float floor) {
    const auto speechEnd = static_cast<int64_t>(lastSpeechFrame + 1) * kFrameSamples;
    const auto count = static_cast<int64_t>(samples.size());
    const int64_t tail = count - speechEnd;
    Result result;
    result.speechThreshold = threshold;
    result.floor = floor;
    result.quietTailMs = msOf(tail);
    if (tail >= kCutFromTailSamples) {
        result.samples.assign(samples.begin(), samples.begin() + speechEnd + kKeptTailSamples);
    } else {
        result.samples = samples;
    }
    return result;
}

Result unchanged(const std::vector<float>& samples, float floor = 0, int64_t quietTailMs = 0) {
    Result result;
    result.samples = samples;
    result.floor = floor;
    result.quietTailMs = quietTailMs;
    return result;
}

}  // namespace

std::vector<float> frameMeans(const std::vector<float>& samples) {
    const size_t frames = samples.size() / kFrameSamples;
    std::vector<float> means(frames);
    for (size_t f = 0; f < frames; ++f) {
        float sum = 0;
        const float* frame = samples.data() + f * kFrameSamples;
        for (int64_t i = 0; i < kFrameSamples; ++i) {
            sum += std::fabs(frame[i]);
        }
        means[f] = sum / static_cast<float>(kFrameSamples);
    }
    return means;
}

Result trim(const std::vector<float>& samples, const std::vector<float>& means, MicMode micMode,
            int64_t prerollCount) {
    if (means.size() < kMinimumFrames) {
        return unchanged(samples);
    }

    bool digitalSilence = micMode == MicMode::voiceIsolation;
    if (!digitalSilence) {
        const size_t from =
            firstFrameFrom(std::max<int64_t>(prerollCount, 0) + kZeroCheckDelaySamples);
        digitalSilence = from < means.size() &&
                         std::any_of(means.begin() + static_cast<std::ptrdiff_t>(from), means.end(),
                                     [](float mean) { return mean == 0.0F; });
    }
    if (digitalSilence) {
        for (size_t i = means.size(); i-- > 0;) {
            if (means[i] > 0) {
                return cutAfter(samples, i, kDigitalSilenceThreshold, 0);
            }
        }
        return unchanged(samples, 0, msOf(static_cast<int64_t>(samples.size())));
    }

    std::vector<float> sorted = means;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    const float floor = sorted[n / 10];
    const float high = sorted[9 * n / 10];
    const float threshold = std::min(floor + 0.25F * (high - floor), 3.0F * floor);
    if (!(floor < threshold)) {
        return unchanged(samples, floor);
    }
    for (size_t i = n; i-- > 0;) {
        if (means[i] >= threshold) {
            return cutAfter(samples, i, threshold, floor);
        }
    }
    return unchanged(samples, floor);
}

int64_t zeroMs(const std::vector<float>& means, int64_t prerollCount) {
    int64_t count = 0;
    for (size_t i = firstFrameFrom(prerollCount); i < means.size(); ++i) {
        if (means[i] == 0.0F) {
            ++count;
        }
    }
    return msOf(count * kFrameSamples);
}

}  // namespace velmarune::TrailingSilence
