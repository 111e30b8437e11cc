#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/CaptureSession.h"

struct soxr;

namespace velmarune {

// Converts microphone blocks to 32-bit float mono at a fixed rate. One
// resampler is kept per source format and fed block after block without
// flushing, so the stream is converted as one continuous signal. A
// multi-channel source is reduced to its first channel. Not thread-safe: only
// the capture engine's delivery queue uses it.
class BufferConverter {
  public:
    struct Result {
        std::optional<std::vector<float>> buffer;  // absent on failure or when no frames came out
        bool failed = false;
        bool formatChanged = false;
    };

    explicit BufferConverter(double outputSampleRateHz);
    ~BufferConverter();
    BufferConverter(const BufferConverter&) = delete;
    BufferConverter& operator=(const BufferConverter&) = delete;

    Result convert(const CaptureFormat& format, const void* data, size_t byteCount, int64_t frames);

    // Forgets the resampler and its format: the next block counts as a first
    // format, not a change.
    void clear();

    const std::optional<CaptureFormat>& inputFormat() const { return m_inputFormat; }
    double outputSampleRateHz() const { return m_outputRateHz; }

    // Bytes of one sample of that type; 0 for types the converter cannot read.
    static size_t bytesPerSample(CaptureSampleType type);
    // Channel 0 of `frames` frames as float; false when the data is too short
    // or the type unreadable.
    static bool extractFirstChannel(const CaptureFormat& format, const void* data, size_t byteCount,
                                    int64_t frames, std::vector<float>& out);

  private:
    bool build(const CaptureFormat& format);
    void release();

    double m_outputRateHz;
    soxr* m_resampler = nullptr;
    bool m_passThrough = false;  // same rate: no resampler, frames copied as they are
    std::optional<CaptureFormat> m_inputFormat;
    std::vector<float> m_mono;  // reused scratch for channel 0
};

}  // namespace velmarune
