#include "audio/BufferConverter.h"

#include <soxr.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace velmarune {

namespace {
constexpr float kInt16Scale = 1.0f / 32768.0f;
constexpr double kInt32Scale = 1.0 / 2147483648.0;
}  // namespace

BufferConverter::BufferConverter(double outputSampleRateHz) : m_outputRateHz(outputSampleRateHz) {}

BufferConverter::~BufferConverter() {
    release();
}

void BufferConverter::release() {
    if (m_resampler != nullptr) {
        soxr_delete(m_resampler);
        m_resampler = nullptr;
    }
    m_passThrough = false;
}

void BufferConverter::clear() {
    release();
    m_inputFormat.reset();
}

size_t BufferConverter::bytesPerSample(CaptureSampleType type) {
    switch (type) {
        case CaptureSampleType::float32:
        case CaptureSampleType::int32:
            return 4;
        case CaptureSampleType::float64:
            return 8;
        case CaptureSampleType::int16:
            return 2;
        case CaptureSampleType::other:
            break;
    }
    return 0;
}

bool BufferConverter::extractFirstChannel(const CaptureFormat& format, const void* data,
                                          size_t byteCount, int64_t frames,
                                          std::vector<float>& out) {
    const size_t sampleBytes = bytesPerSample(format.sampleType);
    if (sampleBytes == 0 || format.channels == 0 || frames < 0 || data == nullptr) {
        return false;
    }
    const auto frameCount = static_cast<size_t>(frames);
    if (frameCount > std::numeric_limits<size_t>::max() / sampleBytes / format.channels ||
        frameCount * sampleBytes * format.channels > byteCount) {
        return false;
    }
    // Interleaved: channel 0 is every `channels`-th sample. Planar: the first
    // plane is channel 0, contiguous.
    const size_t stride = format.interleaved ? format.channels : 1;
    const auto* bytes = static_cast<const unsigned char*>(data);
    out.resize(frameCount);
    for (size_t i = 0; i < frameCount; ++i) {
        const unsigned char* sample = bytes + i * stride * sampleBytes;
        switch (format.sampleType) {
            case CaptureSampleType::float32: {
                float v;
                std::memcpy(&v, sample, sizeof v);
                out[i] = v;
                break;
            }
            case CaptureSampleType::float64: {
                double v;
                std::memcpy(&v, sample, sizeof v);
                out[i] = static_cast<float>(v);
                break;
            }
            case CaptureSampleType::int16: {
                int16_t v;
                std::memcpy(&v, sample, sizeof v);
                out[i] = static_cast<float>(v) * kInt16Scale;
                break;
            }
            case CaptureSampleType::int32: {
                int32_t v;
                std::memcpy(&v, sample, sizeof v);
                out[i] = static_cast<float>(static_cast<double>(v) * kInt32Scale);
                break;
            }
            case CaptureSampleType::other:
                return false;
        }
    }
    return true;
}

bool BufferConverter::build(const CaptureFormat& format) {
    if (bytesPerSample(format.sampleType) == 0 || format.channels == 0 ||
        !std::isfinite(format.sampleRateHz) || format.sampleRateHz <= 0) {
        return false;
    }
    if (format.sampleRateHz == m_outputRateHz) {
        m_passThrough = true;
        return true;
    }
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // Minimum phase keeps the resampler's delay to a few milliseconds, so the
    // ring (and a key-up tail) lags the microphone as little as possible.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ | SOXR_MINIMUM_PHASE, 0);
    // One thread: conversion runs on the delivery queue and must not fan out.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    m_resampler =
        soxr_create(format.sampleRateHz, m_outputRateHz, 1, &error, &io, &quality, &runtime);
    if (error != nullptr || m_resampler == nullptr) {
        release();
        return false;
    }
    return true;
}

BufferConverter::Result BufferConverter::convert(const CaptureFormat& format, const void* data,
                                                 size_t byteCount, int64_t frames) {
    Result result;
    const bool reuse = m_inputFormat.has_value() && *m_inputFormat == format &&
                       (m_resampler != nullptr || m_passThrough);
    if (!reuse) {
        result.formatChanged = m_inputFormat.has_value();
        release();
        m_inputFormat.reset();
        if (!build(format)) {
            result.failed = true;
            return result;
        }
        m_inputFormat = format;
    }

    if (!extractFirstChannel(format, data, byteCount, frames, m_mono)) {
        result.failed = true;
        return result;
    }
    if (m_passThrough) {
        if (!m_mono.empty()) {
            result.buffer = m_mono;
        }
        return result;
    }

    // Room for the rate ratio plus one frame. The resampler works in blocks of
    // its own (about 30 ms here) and keeps what does not fit for the next
    // call, which turns its bursts into an even flow of ~10 ms per 10 ms.
    const auto capacity = static_cast<size_t>(
        m_outputRateHz * static_cast<double>(m_mono.size()) / format.sampleRateHz + 1);
    std::vector<float> out(capacity);
    size_t produced = 0;
    size_t consumed = 0;
    while (true) {
        size_t inputDone = 0;
        size_t outputDone = 0;
        const soxr_error_t error =
            soxr_process(m_resampler, m_mono.data() + consumed, m_mono.size() - consumed,
                         &inputDone, out.data() + produced, out.size() - produced, &outputDone);
        if (error != nullptr) {
            result.failed = true;
            return result;
        }
        consumed += inputDone;
        produced += outputDone;
        if (consumed >= m_mono.size()) {
            break;
        }
        // Output full with input left over: grow and go on.
        out.resize(out.size() + capacity);
    }
    out.resize(produced);
    if (!out.empty()) {
        result.buffer = std::move(out);
    }
    return result;
}

}  // namespace velmarune
