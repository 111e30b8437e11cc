#include "audio/AudioCaptureEngine.h"

#include <utility>

namespace velmarune {

namespace {
const char* sampleTypeName(CaptureSampleType type) {
    switch (type) {
        case CaptureSampleType::float32:
            return "float32";
        case CaptureSampleType::float64:
            return "float64";
        case CaptureSampleType::int16:
            return "int16";
        case CaptureSampleType::int32:
            return "int32";
        case CaptureSampleType::other:
            break;
    }
    return "other";
}

// What a block must hold for its format: the copy step's size check.
bool holdsFrames(const CaptureBuffer& buffer) {
    const size_t sampleBytes = BufferConverter::bytesPerSample(buffer.format->sampleType);
    if (sampleBytes == 0) {
        // Unreadable types go on to the converter, which reports them failed
        // after the format has been noted.
        return true;
    }
    const auto frames = static_cast<unsigned __int128>(buffer.frames);
    return buffer.data != nullptr &&
           frames * sampleBytes * buffer.format->channels <= buffer.byteCount;
}
}  // namespace

AudioCaptureEngine::AudioCaptureEngine(std::shared_ptr<AudioRingBuffer> ringBuffer,
                                       CaptureSession& session, UserDefaults& defaults,
                                       Control control)
    : m_ringBuffer(std::move(ringBuffer)),
      m_session(session),
      m_defaults(defaults),
      m_converter(static_cast<double>(m_ringBuffer->sampleRate())) {
    if (control == Control::ownThread) {
        m_controlQueue = std::make_unique<SerialQueue>("com.quorin.velmarune.capture-control");
        m_controlQueue->start();
    }
}

AudioCaptureEngine::~AudioCaptureEngine() {
    if (m_controlQueue) {
        m_controlQueue->stop();  // finishes what was asked before
    }
    if (m_stream) {
        m_stream->close();
        m_stream.reset();
    }
    m_deliveryQueue.stop();
}

std::optional<std::string> AudioCaptureEngine::resolveDeviceID(CaptureSession& session,
                                                               const UserDefaults& defaults) {
    const auto stored = defaults.stringValue(kSelectedAudioInputDeviceIDKey);
    const auto defaultID = session.defaultDeviceID();
    if (!stored) {
        return defaultID;
    }
    if (session.device(*stored)) {
        return stored;
    }
    return defaultID;
}

bool AudioCaptureEngine::startSession() {
    if (isRunning()) {
        return true;
    }
    const bool pinned = m_defaults.stringValue(kSelectedAudioInputDeviceIDKey).has_value();
    const auto resolved = resolveDeviceID(m_session, m_defaults);
    const auto device = resolved ? m_session.device(*resolved) : std::nullopt;
    if (!device) {
        m_log.error("start: no audio input device available");
        return false;
    }
    m_log.info("start: device=%{public}s pinned=%{bool,public}d", device->name, pinned);

    // A stream the server ended still needs closing before a fresh one.
    closeStream();
    m_deliveryQueue.start();
    // Reset before the new stream delivers anything, ordered after any block
    // still being handled.
    m_deliveryQueue.sync([this] {
        m_converter.clear();
        m_unconvertibleFormat.reset();
        std::lock_guard lock(m_statsLock);
        m_stats = CaptureStats{};
    });

    std::string error;
    auto stream = m_session.openStream(
        device->id, m_deliveryQueue, [this](const CaptureBuffer& buffer) { deliver(buffer); },
        error);
    if (!stream) {
        m_log.error("start: device input init failed: %{public}s", error);
        return false;
    }
    setStream(std::move(stream));
    setDevice(*device);
    m_log.info("session started");
    return true;
}

void AudioCaptureEngine::control(std::function<void()> work) {
    if (m_controlQueue) {
        m_controlQueue->async(std::move(work));
    } else {
        work();
    }
}

void AudioCaptureEngine::start() {
    control([this] { startSession(); });
}

void AudioCaptureEngine::resetRing() {
    // After a stop asked before it, so no block of the old stream lands after.
    control([this] { m_ringBuffer->reset(); });
}

void AudioCaptureEngine::reconfigure(const std::string& deviceID) {
    control([this, deviceID] { reconfigureNow(deviceID); });
}

void AudioCaptureEngine::reconfigureNow(const std::string& deviceID) {
    const auto device = m_session.device(deviceID);
    if (!device) {
        m_log.error("reconfigure: no capture device for the stored id");
        return;
    }
    m_log.info("reconfigure -> %{public}s", device->name);
    if (!m_stream) {
        // Nothing is capturing: the next start attaches whatever is resolved then.
        setDevice(*device);
        return;
    }
    // Close the old input first so that its blocks and the new one's never
    // interleave in the ring.
    closeStream();
    m_deliveryQueue.sync([this] { m_converter.clear(); });
    std::string error;
    auto stream = m_session.openStream(
        device->id, m_deliveryQueue, [this](const CaptureBuffer& buffer) { deliver(buffer); },
        error);
    if (!stream) {
        m_log.error("reconfigure failed: %{public}s", error);
        return;
    }
    setStream(std::move(stream));
    setDevice(*device);
}

void AudioCaptureEngine::stop() {
    control([this] { stopSession(); });
}

void AudioCaptureEngine::stopSession() {
    if (!m_stream) {
        return;
    }
    closeStream();
    m_deliveryQueue.sync([this] { m_converter.clear(); });
    m_log.info("session stopped");
}

void AudioCaptureEngine::restart() {
    // One piece of control work: a stop queued ahead of a start made at once
    // would close the stream the start had just found running or opened.
    control([this] {
        stopSession();
        startSession();
    });
}

void AudioCaptureEngine::setRecording(bool recording) {
    if (std::exchange(m_recording, recording) == recording) {
        return;
    }
    control([this, recording] {
        m_latency = recording ? CaptureLatency::prompt : CaptureLatency::relaxed;
        if (m_stream) {
            m_stream->setLatency(m_latency);
        }
    });
}

void AudioCaptureEngine::reselectInput() {
    if (auto id = resolveDeviceID(m_session, m_defaults)) {
        reconfigure(*id);
    } else {
        restart();
    }
}

bool AudioCaptureEngine::isRunning() const {
    std::lock_guard lock(m_streamLock);
    return m_stream && m_stream->isRunning();
}

void AudioCaptureEngine::setStream(std::unique_ptr<CaptureStream> stream) {
    // A stream opened during a recording (a restart) hurries at once.
    if (m_latency != CaptureLatency::relaxed) {
        stream->setLatency(m_latency);
    }
    std::lock_guard lock(m_streamLock);
    m_stream = std::move(stream);
}

void AudioCaptureEngine::closeStream() {
    std::unique_ptr<CaptureStream> stream;
    {
        std::lock_guard lock(m_streamLock);
        stream = std::move(m_stream);
    }
    if (stream) {
        stream->close();
    }
}

MicMode AudioCaptureEngine::micMode() {
    const auto id = deviceID();
    if (!id) {
        return MicMode::standard;
    }
    const auto device = m_session.device(*id);
    return device && device->isNoiseSuppressionFilter ? MicMode::voiceIsolation : MicMode::standard;
}

CaptureStats AudioCaptureEngine::statsSnapshot() const {
    std::lock_guard lock(m_statsLock);
    return m_stats;
}

std::optional<std::string> AudioCaptureEngine::deviceName() const {
    std::lock_guard lock(m_deviceLock);
    return m_deviceName;
}

std::optional<std::string> AudioCaptureEngine::deviceID() const {
    std::lock_guard lock(m_deviceLock);
    return m_deviceID;
}

void AudioCaptureEngine::setDevice(const CaptureDevice& device) {
    std::lock_guard lock(m_deviceLock);
    m_deviceName = device.name;
    m_deviceID = device.id;
}

void AudioCaptureEngine::setOnBufferReceived(std::function<void()> callback) {
    m_deliveryQueue.sync([&] { m_onBufferReceived = std::move(callback); });
}

RingTail AudioCaptureEngine::ringTail(int64_t frames) {
    RingTail tail;
    tail.samples = m_ringBuffer->tail(frames, &tail.endFrame);
    return tail;
}

void AudioCaptureEngine::setOnSamplesAppended(SamplesAppended callback) {
    m_deliveryQueue.sync([&] { m_onSamplesAppended = std::move(callback); });
}

void AudioCaptureEngine::deliver(const CaptureBuffer& buffer) {
    const auto countDropped = [this] {
        std::lock_guard lock(m_statsLock);
        m_stats.dropped += 1;
    };
    if (!buffer.format) {
        countDropped();
        return;
    }
    if (buffer.frames == 0) {
        return;
    }
    const CaptureFormat& format = *buffer.format;
    if (buffer.frames < 0 || format.channels == 0 || !(format.sampleRateHz > 0) ||
        !holdsFrames(buffer)) {
        countDropped();
        return;
    }

    const auto& cached = m_converter.inputFormat();
    const bool newFormat = !cached || *cached != format;
    auto result = m_converter.convert(format, buffer.data, buffer.byteCount, buffer.frames);
    if (newFormat) {
        const char* typeName = sampleTypeName(format.sampleType);
        {
            std::lock_guard lock(m_statsLock);
            m_stats.sourceSampleRate = format.sampleRateHz;
            m_stats.sourceChannels = format.channels;
            m_stats.sourceSampleType = typeName;
        }
        // A format the converter refuses is retried (and would be logged) on
        // every block; say it once until the format changes.
        const bool repeatedFailure = result.failed && m_unconvertibleFormat == format;
        m_unconvertibleFormat = result.failed ? std::optional(format) : std::nullopt;
        if (!repeatedFailure) {
            m_log.info(
                "source format: rate=%{public}f channels=%{public}u type=%{public}s "
                "interleaved=%{bool,public}d change=%{bool,public}d",
                format.sampleRateHz, format.channels, typeName, format.interleaved,
                result.formatChanged);
        }
    }
    if (result.formatChanged) {
        std::lock_guard lock(m_statsLock);
        m_stats.formatChanges += 1;
    }
    if (result.failed) {
        countDropped();
        return;
    }
    if (result.buffer) {
        appendConverted(result.buffer->data(), result.buffer->size());
    }
}

void AudioCaptureEngine::appendConverted(const float* samples, size_t count) {
    const int64_t firstFrame = m_ringBuffer->append(samples, static_cast<int64_t>(count));
    {
        std::lock_guard lock(m_statsLock);
        m_stats.converted += 1;
    }
    if (m_onBufferReceived) {
        m_onBufferReceived();
    }
    if (m_onSamplesAppended) {
        m_onSamplesAppended(samples, count, firstFrame);
    }
}

}  // namespace velmarune
