#include "audio/AudioRingBuffer.h"

#include <algorithm>
#include <cstring>

namespace velmarune {

AudioRingBuffer::AudioRingBuffer(int64_t sampleRate, double seconds)
    : m_sampleRate(sampleRate),
      m_capacityFrames(
          std::max<int64_t>(0, static_cast<int64_t>(seconds * static_cast<double>(sampleRate)))),
      m_storage(static_cast<size_t>(m_capacityFrames), 0.0f) {}

int64_t AudioRingBuffer::append(const float* samples, int64_t count) {
    std::lock_guard lock(m_lock);
    const int64_t first = m_totalFramesWritten;
    if (count < 1 || samples == nullptr) {
        return first;
    }
    if (m_capacityFrames == 0) {
        m_totalFramesWritten += count;
        return first;
    }
    float* storage = m_storage.data();
    if (count < m_capacityFrames) {
        const int64_t space = m_capacityFrames - m_writeIndex;
        if (space >= count) {
            std::memcpy(storage + m_writeIndex, samples,
                        static_cast<size_t>(count) * sizeof(float));
            m_writeIndex = (m_writeIndex + count) % m_capacityFrames;
        } else {
            std::memcpy(storage + m_writeIndex, samples,
                        static_cast<size_t>(space) * sizeof(float));
            std::memcpy(storage, samples + space,
                        static_cast<size_t>(count - space) * sizeof(float));
            m_writeIndex = count - space;
        }
    } else {
        std::memcpy(storage, samples + (count - m_capacityFrames),
                    static_cast<size_t>(m_capacityFrames) * sizeof(float));
        m_writeIndex = 0;
    }
    m_totalFramesWritten += count;
    return first;
}

std::vector<float> AudioRingBuffer::samples(int64_t since) const {
    std::lock_guard lock(m_lock);
    return samplesLocked(since);
}

std::vector<float> AudioRingBuffer::tail(int64_t frames, int64_t* endFrame) const {
    std::lock_guard lock(m_lock);
    if (endFrame != nullptr) {
        *endFrame = m_totalFramesWritten;
    }
    return samplesLocked(std::max<int64_t>(0, m_totalFramesWritten - std::max<int64_t>(0, frames)));
}

std::vector<float> AudioRingBuffer::samplesLocked(int64_t since) const {
    since = std::max<int64_t>(0, since);
    if (since >= m_totalFramesWritten || m_capacityFrames == 0) {
        return {};
    }
    const int64_t n = std::min(m_capacityFrames, m_totalFramesWritten - since);
    const bool full = m_totalFramesWritten >= m_capacityFrames;
    const int64_t oldest = full ? m_writeIndex : 0;
    const int64_t filled = full ? m_capacityFrames : m_totalFramesWritten;
    const int64_t first = (oldest + filled - n) % m_capacityFrames;

    std::vector<float> out(static_cast<size_t>(n));
    const int64_t head = std::min(n, m_capacityFrames - first);
    std::memcpy(out.data(), m_storage.data() + first, static_cast<size_t>(head) * sizeof(float));
    if (head < n) {
        std::memcpy(out.data() + head, m_storage.data(),
                    static_cast<size_t>(n - head) * sizeof(float));
    }
    return out;
}

void AudioRingBuffer::reset() {
    std::lock_guard lock(m_lock);
    m_writeIndex = 0;
    m_totalFramesWritten = 0;
}

int64_t AudioRingBuffer::totalFramesWritten() const {
    std::lock_guard lock(m_lock);
    return m_totalFramesWritten;
}

int64_t AudioRingBuffer::writeIndex() const {
    std::lock_guard lock(m_lock);
    return m_writeIndex;
}

}  // namespace velmarune
