#include "platform/fake/FakeCaptureSource.h"

#include <algorithm>

namespace velmarune {

RingTail FakeCaptureSource::ringTail(int64_t frames) {
    std::lock_guard lock(m_mutex);
    const size_t count = std::min(m_ring.size(), static_cast<size_t>(std::max<int64_t>(frames, 0)));
    return {std::vector<float>(m_ring.end() - static_cast<std::ptrdiff_t>(count), m_ring.end()),
            static_cast<int64_t>(m_ring.size())};
}

void FakeCaptureSource::resetRing() {
    std::lock_guard lock(m_mutex);
    m_ring.clear();
    ++m_resets;
}

CaptureStats FakeCaptureSource::statsSnapshot() const {
    std::lock_guard lock(m_mutex);
    return m_stats;
}

void FakeCaptureSource::start() {
    std::lock_guard lock(m_mutex);
    m_running = true;
    ++m_starts;
}

void FakeCaptureSource::stop() {
    std::lock_guard lock(m_mutex);
    m_running = false;
    ++m_stops;
}

void FakeCaptureSource::restart() {
    std::lock_guard lock(m_mutex);
    m_running = true;
    ++m_restarts;
}

void FakeCaptureSource::reselectInput() {
    std::lock_guard lock(m_mutex);
    ++m_reselects;
}

MicMode FakeCaptureSource::micMode() {
    std::lock_guard lock(m_mutex);
    return m_micMode;
}

void FakeCaptureSource::setMicMode(MicMode mode) {
    std::lock_guard lock(m_mutex);
    m_micMode = mode;
}

int FakeCaptureSource::restartCount() const {
    std::lock_guard lock(m_mutex);
    return m_restarts;
}

int FakeCaptureSource::reselectCount() const {
    std::lock_guard lock(m_mutex);
    return m_reselects;
}

bool FakeCaptureSource::isRunning() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

std::optional<std::string> FakeCaptureSource::deviceName() const {
    std::lock_guard lock(m_mutex);
    return m_deviceName;
}

std::optional<std::string> FakeCaptureSource::deviceID() const {
    std::lock_guard lock(m_mutex);
    return m_deviceName ? std::optional<std::string>("fake:" + *m_deviceName) : std::nullopt;
}

void FakeCaptureSource::setOnBufferReceived(std::function<void()> callback) {
    std::lock_guard lock(m_mutex);
    m_onBuffer = std::move(callback);
}

void FakeCaptureSource::setOnSamplesAppended(SamplesAppended callback) {
    std::lock_guard lock(m_mutex);
    m_onSamples = std::move(callback);
}

void FakeCaptureSource::deliver(const std::vector<float>& block) {
    std::function<void()> onBuffer;
    SamplesAppended onSamples;
    int64_t firstFrame = 0;
    {
        std::lock_guard lock(m_mutex);
        firstFrame = static_cast<int64_t>(m_ring.size());
        m_ring.insert(m_ring.end(), block.begin(), block.end());
        ++m_stats.converted;
        onBuffer = m_onBuffer;
        onSamples = m_onSamples;
    }
    if (onBuffer) {
        onBuffer();
    }
    if (onSamples) {
        onSamples(block.data(), block.size(), firstFrame);
    }
}

void FakeCaptureSource::deliverTone(double seconds, float amplitude) {
    const auto total = static_cast<size_t>(seconds * 16000.0);
    constexpr size_t kBlock = 160;
    for (size_t done = 0; done < total; done += kBlock) {
        std::vector<float> block(std::min(kBlock, total - done));
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = ((done + i) / 20) % 2 == 0 ? amplitude : -amplitude;
        }
        deliver(block);
    }
}

void FakeCaptureSource::fillRing(const std::vector<float>& samples) {
    std::lock_guard lock(m_mutex);
    m_ring.insert(m_ring.end(), samples.begin(), samples.end());
}

void FakeCaptureSource::setDeviceName(std::optional<std::string> name) {
    std::lock_guard lock(m_mutex);
    m_deviceName = std::move(name);
}

void FakeCaptureSource::setStats(const CaptureStats& stats) {
    std::lock_guard lock(m_mutex);
    m_stats = stats;
}

int FakeCaptureSource::startCount() const {
    std::lock_guard lock(m_mutex);
    return m_starts;
}

int FakeCaptureSource::stopCount() const {
    std::lock_guard lock(m_mutex);
    return m_stops;
}

int FakeCaptureSource::resetCount() const {
    std::lock_guard lock(m_mutex);
    return m_resets;
}

}  // namespace velmarune
