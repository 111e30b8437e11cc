#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "audio/BufferConverter.h"

namespace velmarune {
namespace {

CaptureFormat format(double rate, uint32_t channels,
                     CaptureSampleType type = CaptureSampleType::float32, bool interleaved = true) {
    return {rate, channels, type, interleaved};
}

std::vector<float> sine(double rate, double hz, size_t frames, uint32_t channels = 1) {
    std::vector<float> v(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const auto x = static_cast<float>(
            0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
        for (uint32_t c = 0; c < channels; ++c) {
            // Only channel 0 carries the tone; the others are noise-free zeros.
            v[i * channels + c] = c == 0 ? x : 0.0f;
        }
    }
    return v;
}

BufferConverter::Result convert(BufferConverter& converter, const CaptureFormat& f,
                                const std::vector<float>& data) {
    const auto frames = static_cast<int64_t>(data.size() / f.channels);
    return converter.convert(f, data.data(), data.size() * sizeof(float), frames);
}

TEST(BufferConverter, StreamOf48kStereoKeepsRateAndTakesFirstChannel) {
    BufferConverter converter(16000);
    // A block too small to yield a frame through the resampler is no failure.
    const auto tiny = convert(converter, format(48000, 2), std::vector<float>(2, 0.3f));
    EXPECT_FALSE(tiny.failed);
    EXPECT_FALSE(tiny.buffer);
    const auto signal = sine(48000, 440, 48000, 2);
    size_t total = 0;
    std::vector<float> out;
    for (size_t first = 0; first < 48000; first += 480) {
        std::vector<float> block(signal.begin() + static_cast<long>(first * 2),
                                 signal.begin() + static_cast<long>((first + 480) * 2));
        const auto result = convert(converter, format(48000, 2), block);
        ASSERT_FALSE(result.failed);
        if (result.buffer) {
            EXPECT_LE(result.buffer->size(), 161u + 1);
            total += result.buffer->size();
            out.insert(out.end(), result.buffer->begin(), result.buffer->end());
        }
    }
    // The resampler holds back its filter delay and one processing block; the
    // rest comes out.
    EXPECT_GT(total, 15400u);
    EXPECT_LE(total, 16000u);
    // Channel 0 carried a 0.5 sine: its rms survives, so no channel mixing happened.
    double sum = 0;
    for (size_t i = 1000; i < out.size(); ++i) {
        sum += out[i] * out[i];
    }
    EXPECT_NEAR(std::sqrt(sum / static_cast<double>(out.size() - 1000)), 0.5 / std::sqrt(2.0),
                0.01);
}

TEST(BufferConverter, ReadsEveryIntegerAndFloatLayout) {
    struct Case {
        CaptureFormat format;
        std::vector<unsigned char> bytes;
        float expected;
    };
    auto bytesOf = [](auto value, int repeat) {
        std::vector<unsigned char> out;
        for (int i = 0; i < repeat; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(&value);
            out.insert(out.end(), p, p + sizeof value);
        }
        return out;
    };
    const std::vector<Case> cases{
        {format(16000, 1, CaptureSampleType::int16), bytesOf(int16_t{-16384}, 4), -0.5f},
        {format(16000, 1, CaptureSampleType::int32), bytesOf(int32_t{1073741824}, 4), 0.5f},
        {format(16000, 1, CaptureSampleType::float64), bytesOf(0.25, 4), 0.25f},
        {format(16000, 2, CaptureSampleType::float32), bytesOf(0.75f, 8), 0.75f},
        {format(16000, 1, CaptureSampleType::float32), bytesOf(-0.125f, 4), -0.125f},
    };
    for (const auto& c : cases) {
        BufferConverter converter(16000);
        const auto result = converter.convert(c.format, c.bytes.data(), c.bytes.size(), 4);
        ASSERT_TRUE(result.buffer);
        EXPECT_EQ(*result.buffer, std::vector<float>(4, c.expected));
    }
    // Planar: channel 0 is the first plane.
    BufferConverter converter(16000);
    const std::vector<float> planar{1, 2, 3, 9, 9, 9};
    const auto result = converter.convert(format(16000, 2, CaptureSampleType::float32, false),
                                          planar.data(), planar.size() * sizeof(float), 3);
    ASSERT_TRUE(result.buffer);
    EXPECT_EQ(*result.buffer, (std::vector<float>{1, 2, 3}));
}

}  // namespace
}  // namespace velmarune
