#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace velmarune {

// The last few seconds of converted microphone audio. Shared by the capture
// engine (the only writer, on the delivery queue) and its readers (pre-roll,
// level meter); each append or read holds the lock briefly.
class AudioRingBuffer {
  public:
    AudioRingBuffer(int64_t sampleRate, double seconds);

    // Stores `count` frames; counts below 1 are ignored. A block longer than
    // the ring keeps only its newest capacityFrames() frames. Returns the
    // running index of the block's first frame.
    int64_t append(const float* samples, int64_t count);

    // The frames whose running index is at or after `index` that the ring
    // still holds, oldest first; empty when `index` >= totalFramesWritten().
    // A negative index reads as 0.
    std::vector<float> samples(int64_t since) const;

    // The last `frames` frames (fewer when fewer were written), read with the
    // total under one lock; `endFrame` (when given) receives that total, the
    // running index just past the last frame returned.
    std::vector<float> tail(int64_t frames, int64_t* endFrame = nullptr) const;

    // Forgets what was written (storage is left as is). Only while the capture
    // engine is stopped.
    void reset();

    int64_t totalFramesWritten() const;
    int64_t writeIndex() const;
    int64_t sampleRate() const { return m_sampleRate; }
    int64_t capacityFrames() const { return m_capacityFrames; }

  private:
    std::vector<float> samplesLocked(int64_t since) const;

    const int64_t m_sampleRate;
    const int64_t m_capacityFrames;
    mutable std::mutex m_lock;
    std::vector<float> m_storage;
    int64_t m_writeIndex = 0;
    int64_t m_totalFramesWritten = 0;
};

}  // namespace velmarune
