#include "platform/fake/FakeCaptureSession.h"

#include <sndfile.h>

#include <algorithm>

#include "foundation/SerialQueue.h"

namespace velmarune {

class FakeCaptureSession::Stream : public CaptureStream {
  public:
    explicit Stream(std::shared_ptr<StreamState> state) : m_state(std::move(state)) {}
    ~Stream() override { close(); }
    void close() override {
        std::lock_guard lock(m_state->mutex);
        m_state->running = false;
        m_state->handler = nullptr;
    }
    bool isRunning() const override {
        std::lock_guard lock(m_state->mutex);
        return m_state->running;
    }
    void setLatency(CaptureLatency latency) override {
        std::lock_guard lock(m_state->mutex);
        m_state->latency = latency;
    }

  private:
    std::shared_ptr<StreamState> m_state;
};

void FakeCaptureSession::setDevices(std::vector<CaptureDevice> devices) {
    std::lock_guard lock(m_mutex);
    m_devices = std::move(devices);
}

void FakeCaptureSession::setDefaultDeviceID(std::optional<std::string> id) {
    std::lock_guard lock(m_mutex);
    m_defaultID = std::move(id);
}

void FakeCaptureSession::setOpenError(std::string error) {
    std::lock_guard lock(m_mutex);
    m_openError = std::move(error);
}

std::vector<CaptureDevice> FakeCaptureSession::devices() {
    std::lock_guard lock(m_mutex);
    return m_devices;
}

std::optional<std::string> FakeCaptureSession::defaultDeviceID() {
    std::lock_guard lock(m_mutex);
    return m_defaultID;
}

std::optional<CaptureDevice> FakeCaptureSession::device(const std::string& id) {
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [&](const CaptureDevice& d) { return d.id == id; });
    if (it == m_devices.end()) {
        return std::nullopt;
    }
    return *it;
}

std::unique_ptr<CaptureStream> FakeCaptureSession::openStream(const std::string& deviceID,
                                                              SerialQueue& deliveryQueue,
                                                              BufferHandler handler,
                                                              std::string& error) {
    std::lock_guard lock(m_mutex);
    m_opened.push_back(deviceID);
    if (!m_openError.empty()) {
        error = m_openError;
        return nullptr;
    }
    auto state = std::make_shared<StreamState>();
    state->queue = &deliveryQueue;
    state->handler = std::move(handler);
    m_current = state;
    return std::make_unique<Stream>(state);
}

Subscription FakeCaptureSession::subscribe(EventHandler handler) {
    std::lock_guard lock(m_mutex);
    const uint64_t id = m_nextSubscriber++;
    (*m_subscribers)[id] = std::move(handler);
    std::weak_ptr<std::map<uint64_t, EventHandler>> weak = m_subscribers;
    return Subscription([this, weak, id] {
        if (auto subscribers = weak.lock()) {
            std::lock_guard lock(m_mutex);
            subscribers->erase(id);
        }
    });
}

void FakeCaptureSession::emit(const CaptureSessionEvent& event) {
    std::map<uint64_t, EventHandler> snapshot;
    {
        std::lock_guard lock(m_mutex);
        snapshot = *m_subscribers;
    }
    for (auto& [id, handler] : snapshot) {
        handler(event);
    }
}

bool FakeCaptureSession::deliver(const CaptureBuffer& buffer) {
    std::shared_ptr<StreamState> state;
    {
        std::lock_guard lock(m_mutex);
        state = m_current;
    }
    SerialQueue* queue = nullptr;
    {
        if (!state) {
            return false;
        }
        std::lock_guard lock(state->mutex);
        if (!state->running || !state->handler) {
            return false;
        }
        queue = state->queue;
    }
    queue->sync([&] {
        BufferHandler handler;
        {
            std::lock_guard lock(state->mutex);
            handler = state->handler;
        }
        if (handler) {
            handler(buffer);
        }
    });
    return true;
}

namespace {
template <typename T>
bool deliverBlocks(FakeCaptureSession& session, const std::vector<T>& interleaved,
                   CaptureFormat format, int64_t blockFrames) {
    const auto channels = static_cast<int64_t>(std::max<uint32_t>(format.channels, 1));
    const auto totalFrames = static_cast<int64_t>(interleaved.size()) / channels;
    blockFrames = std::max<int64_t>(blockFrames, 1);
    for (int64_t first = 0; first < totalFrames; first += blockFrames) {
        const int64_t frames = std::min(blockFrames, totalFrames - first);
        CaptureBuffer buffer{format, interleaved.data() + first * channels,
                             static_cast<size_t>(frames * channels) * sizeof(T), frames};
        if (!session.deliver(buffer)) {
            return false;
        }
    }
    return true;
}
}  // namespace

bool FakeCaptureSession::deliverFloats(const std::vector<float>& interleaved, double sampleRateHz,
                                       uint32_t channels, int64_t blockFrames) {
    return deliverBlocks(*this, interleaved,
                         CaptureFormat{sampleRateHz, channels, CaptureSampleType::float32, true},
                         blockFrames);
}

bool FakeCaptureSession::deliverInt16(const std::vector<int16_t>& interleaved, double sampleRateHz,
                                      uint32_t channels, int64_t blockFrames) {
    return deliverBlocks(*this, interleaved,
                         CaptureFormat{sampleRateHz, channels, CaptureSampleType::int16, true},
                         blockFrames);
}

bool FakeCaptureSession::replayFile(const std::filesystem::path& file, int64_t blockFrames) {
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (handle == nullptr) {
        return false;
    }
    std::vector<float> samples(
        static_cast<size_t>(std::max<sf_count_t>(info.frames, 0) * info.channels));
    const sf_count_t read = sf_readf_float(handle, samples.data(), info.frames);
    sf_close(handle);
    samples.resize(static_cast<size_t>(std::max<sf_count_t>(read, 0) * info.channels));
    return deliverFloats(samples, info.samplerate, static_cast<uint32_t>(info.channels),
                         blockFrames);
}

void FakeCaptureSession::endStream() {
    std::lock_guard lock(m_mutex);
    if (m_current) {
        std::lock_guard streamLock(m_current->mutex);
        m_current->running = false;
    }
}

std::vector<std::string> FakeCaptureSession::openedDeviceIDs() const {
    std::lock_guard lock(m_mutex);
    return m_opened;
}

bool FakeCaptureSession::hasOpenStream() const {
    std::lock_guard lock(m_mutex);
    if (!m_current) {
        return false;
    }
    std::lock_guard streamLock(m_current->mutex);
    return m_current->running && m_current->handler != nullptr;
}

std::optional<CaptureLatency> FakeCaptureSession::latency() const {
    std::lock_guard lock(m_mutex);
    if (!m_current) {
        return std::nullopt;
    }
    std::lock_guard streamLock(m_current->mutex);
    if (!m_current->running) {
        return std::nullopt;
    }
    return m_current->latency;
}

}  // namespace velmarune
