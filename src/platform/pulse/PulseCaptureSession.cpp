#include "platform/pulse/PulseCaptureSession.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

#include "foundation/SerialQueue.h"
#include "platform/pulse/PulseSourceCache.h"

namespace velmarune {

namespace {

constexpr auto kQueryTimeout = std::chrono::seconds(3);
constexpr pa_usec_t kReconnectDelayUsec = 500 * 1000;
// Block lengths: while a dictation records, 20 ms (a release takes what has
// arrived); otherwise 100 ms, which keeps the pre-roll current all the same.
constexpr pa_usec_t kPromptFragmentUsec = 20 * 1000;
constexpr pa_usec_t kRelaxedFragmentUsec = 100 * 1000;

pa_buffer_attr recordBufferFor(CaptureLatency latency, const pa_sample_spec& sampleSpec) {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(
        latency == CaptureLatency::prompt ? kPromptFragmentUsec : kRelaxedFragmentUsec,
        &sampleSpec));
    return attr;
}

// The stream format: the source's own rate and channels; its own sample type
// when the converter reads it, otherwise float (the server converts only the
// sample type, never the rate).
std::pair<pa_sample_spec, CaptureSampleType> streamSpecFor(const pa_sample_spec& source) {
    pa_sample_spec sampleSpec = source;
    switch (source.format) {
        case PA_SAMPLE_FLOAT32NE:
            return {sampleSpec, CaptureSampleType::float32};
        case PA_SAMPLE_S16NE:
            return {sampleSpec, CaptureSampleType::int16};
        case PA_SAMPLE_S32NE:
            return {sampleSpec, CaptureSampleType::int32};
        default:
            sampleSpec.format = PA_SAMPLE_FLOAT32NE;
            return {sampleSpec, CaptureSampleType::float32};
    }
}

}  // namespace

struct StreamShared {
    std::mutex mutex;
    CaptureSession::BufferHandler handler;
    SerialQueue* queue = nullptr;
    CaptureFormat format;
    size_t frameBytes = 0;
    bool open = true;     // false once closed by the owner
    bool running = true;  // false once the server ended it

    // Tells the session's subscribers; set before the stream connects.
    std::function<void(const std::string&)> onFailure;

    // Connection handshake, waited on by openStream.
    std::condition_variable cv;
    bool settled = false;
    bool ready = false;
    std::string failure;
};

class PulseCaptureSession::Impl : public std::enable_shared_from_this<PulseCaptureSession::Impl> {
  public:
    Impl(MainQueue& mainQueue, std::string server)
        : m_mainQueue(mainQueue),
          m_server(std::move(server)),
          m_sources([this](CaptureSessionEvent event) { post(std::move(event)); },
                    [this] { return isConnected(); }) {}

    ~Impl() {
        if (m_loop == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(m_loop);
        m_shuttingDown = true;
        if (m_reconnectTimer != nullptr) {
            pa_threaded_mainloop_get_api(m_loop)->time_free(m_reconnectTimer);
            m_reconnectTimer = nullptr;
        }
        dropContext();
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }

    void start() {
        if (m_loop != nullptr) {
            return;
        }
        m_loop = pa_threaded_mainloop_new();
        pa_threaded_mainloop_set_name(m_loop, "velmarune-pulse");
        pa_threaded_mainloop_lock(m_loop);
        connect();
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_start(m_loop);
    }

    bool isConnected() const {
        std::lock_guard lock(m_stateMutex);
        return m_connected;
    }

    bool waitUntilConnected(double timeoutSeconds) {
        std::unique_lock lock(m_stateMutex);
        return m_stateCv.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                  [this] { return m_connected; });
    }

    // --- streams ---

    PulseSourceCache& sources() { return m_sources; }

    std::shared_ptr<StreamShared> openStream(const PulseSource& source, SerialQueue& queue,
                                             BufferHandler handler, pa_stream*& out,
                                             std::string& error) {
        auto [sampleSpec, type] = streamSpecFor(source.sampleSpec);
        auto shared = std::make_shared<StreamShared>();
        shared->handler = std::move(handler);
        shared->queue = &queue;
        shared->format =
            CaptureFormat{static_cast<double>(sampleSpec.rate), sampleSpec.channels, type, true};
        shared->frameBytes = pa_frame_size(&sampleSpec);
        std::weak_ptr<Impl> weak = weak_from_this();
        shared->onFailure = [weak, id = source.device.id](const std::string& text) {
            if (auto self = weak.lock()) {
                self->post({CaptureSessionEvent::Kind::streamFailed, id + ": " + text});
            }
        };

        pa_threaded_mainloop_lock(m_loop);
        if (m_context == nullptr || pa_context_get_state(m_context) != PA_CONTEXT_READY) {
            pa_threaded_mainloop_unlock(m_loop);
            error = "not connected to the audio server";
            return nullptr;
        }
        pa_channel_map map = source.map;
        if (map.channels != sampleSpec.channels) {
            pa_channel_map_init_auto(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
        }
        pa_stream* stream = pa_stream_new(m_context, "Velmarune capture", &sampleSpec, &map);
        if (stream == nullptr) {
            error = pa_strerror(pa_context_errno(m_context));
            pa_threaded_mainloop_unlock(m_loop);
            return nullptr;
        }
        // The callbacks get a heap copy of the shared pointer, freed in closeStream.
        auto* holder = new std::shared_ptr<StreamShared>(shared);
        m_holders[stream] = holder;
        pa_stream_set_state_callback(stream, &Impl::onStreamState, holder);
        pa_stream_set_read_callback(stream, &Impl::onStreamRead, holder);

        const pa_buffer_attr attr = recordBufferFor(CaptureLatency::relaxed, sampleSpec);
        // DONT_MOVE: a vanished device ends the stream (reported) instead of
        // the server quietly moving it to another microphone.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pa_stream_connect_record(stream, source.device.id.c_str(), &attr, flags) < 0) {
            error = pa_strerror(pa_context_errno(m_context));
            pa_threaded_mainloop_unlock(m_loop);
            closeStream(stream);
            return nullptr;
        }
        pa_threaded_mainloop_unlock(m_loop);

        bool ready = false;
        {
            std::unique_lock lock(shared->mutex);
            const bool settled =
                shared->cv.wait_for(lock, kQueryTimeout, [&] { return shared->settled; });
            ready = settled && shared->ready;
            if (!ready) {
                error = settled ? shared->failure : "the audio server did not answer in time";
            }
        }
        if (!ready) {
            closeStream(stream);
            return nullptr;
        }
        out = stream;
        return shared;
    }

    void closeStream(pa_stream* stream) {
        void* holder = nullptr;
        pa_threaded_mainloop_lock(m_loop);
        auto it = m_holders.find(stream);
        if (it != m_holders.end()) {
            holder = it->second;
            m_holders.erase(it);
        }
        pa_threaded_mainloop_unlock(m_loop);
        closeStream(stream, static_cast<std::shared_ptr<StreamShared>*>(holder));
    }

    // The server changes the block length of a running stream; blocks
    // already recorded are delivered, none dropped.
    void setLatency(pa_stream* stream, CaptureLatency latency) {
        pa_threaded_mainloop_lock(m_loop);
        if (pa_stream_get_state(stream) == PA_STREAM_READY) {
            const pa_buffer_attr attr =
                recordBufferFor(latency, *pa_stream_get_sample_spec(stream));
            if (pa_operation* op = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr)) {
                pa_operation_unref(op);
            }
        }
        pa_threaded_mainloop_unlock(m_loop);
    }

    // --- events ---

    Subscription subscribe(EventHandler handler) {
        std::lock_guard lock(m_subscribersMutex);
        const uint64_t id = m_nextSubscriber++;
        (*m_subscribers)[id] = std::move(handler);
        std::weak_ptr<Impl> weak = weak_from_this();
        return Subscription([weak, id] {
            if (auto self = weak.lock()) {
                std::lock_guard lock(self->m_subscribersMutex);
                self->m_subscribers->erase(id);
            }
        });
    }

  private:
    using Subscribers = std::map<uint64_t, EventHandler>;

    void closeStream(pa_stream* stream, std::shared_ptr<StreamShared>* holder) {
        if (holder != nullptr) {
            std::lock_guard lock((*holder)->mutex);
            (*holder)->open = false;
            (*holder)->handler = nullptr;
        }
        pa_threaded_mainloop_lock(m_loop);
        closeStreamLocked(stream, holder);
        pa_threaded_mainloop_unlock(m_loop);
    }

    static void closeStreamLocked(pa_stream* stream, std::shared_ptr<StreamShared>* holder) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        if (pa_stream_get_state(stream) == PA_STREAM_READY ||
            pa_stream_get_state(stream) == PA_STREAM_CREATING) {
            pa_stream_disconnect(stream);
        }
        pa_stream_unref(stream);
        delete holder;
    }

    static void onStreamState(pa_stream* stream, void* data) {
        auto& shared = *static_cast<std::shared_ptr<StreamShared>*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state != PA_STREAM_READY && state != PA_STREAM_FAILED &&
            state != PA_STREAM_TERMINATED) {
            return;
        }
        bool reportFailure = false;
        std::string text;
        {
            std::lock_guard lock(shared->mutex);
            if (state == PA_STREAM_READY) {
                shared->ready = true;
            } else {
                text = pa_strerror(pa_context_errno(pa_stream_get_context(stream)));
                shared->failure = text;
                reportFailure = shared->settled && shared->open && shared->running;
                shared->running = false;
            }
            shared->settled = true;
        }
        shared->cv.notify_all();
        if (reportFailure && shared->onFailure) {
            shared->onFailure(text);
        }
    }

    static void onStreamRead(pa_stream* stream, size_t, void* data) {
        auto& shared = *static_cast<std::shared_ptr<StreamShared>*>(data);
        for (;;) {
            const void* bytes = nullptr;
            size_t length = 0;
            if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) {
                return;
            }
            if (bytes != nullptr) {
                std::vector<unsigned char> block(static_cast<const unsigned char*>(bytes),
                                                 static_cast<const unsigned char*>(bytes) + length);
                SerialQueue* queue = nullptr;
                {
                    std::lock_guard lock(shared->mutex);
                    queue = shared->open ? shared->queue : nullptr;
                }
                if (queue != nullptr) {
                    queue->async([shared, block = std::move(block)] {
                        std::lock_guard lock(shared->mutex);
                        if (!shared->open || !shared->handler) {
                            return;
                        }
                        const CaptureBuffer buffer{
                            shared->format, block.data(), block.size(),
                            static_cast<int64_t>(block.size() / shared->frameBytes)};
                        shared->handler(buffer);
                    });
                }
            }
            // A hole (no data) is dropped too; the ring simply continues.
            pa_stream_drop(stream);
        }
    }

    // --- connection (loop thread or under the loop's lock) ---

    void connect() {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Velmarune");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "com.quorin.velmarune");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "production");
        m_context = pa_context_new_with_proplist(api, "Velmarune", props);
        pa_proplist_free(props);
        if (m_context == nullptr) {
            scheduleReconnect();
            return;
        }
        pa_context_set_state_callback(m_context, &Impl::onContextState, this);
        pa_context_set_subscribe_callback(
            m_context,
            [](pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* data) {
                static_cast<Impl*>(data)->m_sources.handle(context, type, index);
            },
            this);
        if (pa_context_connect(m_context, m_server.empty() ? nullptr : m_server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            dropContext();
            scheduleReconnect();
        }
    }

    void dropContext() {
        if (m_context == nullptr) {
            return;
        }
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }

    void scheduleReconnect() {
        if (m_shuttingDown || m_reconnectTimer != nullptr) {
            return;
        }
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        struct timeval when;
        pa_gettimeofday(&when);
        pa_timeval_add(&when, kReconnectDelayUsec);
        m_reconnectTimer = api->time_new(
            api, &when,
            [](pa_mainloop_api* a, pa_time_event* event, const struct timeval*, void* data) {
                auto* self = static_cast<Impl*>(data);
                a->time_free(event);
                self->m_reconnectTimer = nullptr;
                self->dropContext();
                self->connect();
            },
            this);
    }

    static void onContextState(pa_context* context, void* data) {
        auto* self = static_cast<Impl*>(data);
        switch (pa_context_get_state(context)) {
            case PA_CONTEXT_READY: {
                if (pa_operation* op = pa_context_subscribe(
                        context,
                        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                            PA_SUBSCRIPTION_MASK_SERVER),
                        nullptr, nullptr)) {
                    pa_operation_unref(op);
                }
                self->m_sources.refresh(context);
                bool wasEverConnected = false;
                {
                    std::lock_guard lock(self->m_stateMutex);
                    self->m_connected = true;
                    wasEverConnected = self->m_everConnected;
                    self->m_everConnected = true;
                }
                self->m_stateCv.notify_all();
                if (wasEverConnected) {
                    self->post({CaptureSessionEvent::Kind::serverConnected, ""});
                }
                break;
            }
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED: {
                bool wasConnected = false;
                {
                    std::lock_guard lock(self->m_stateMutex);
                    wasConnected = self->m_connected;
                    self->m_connected = false;
                }
                self->m_sources.clear();
                if (wasConnected) {
                    self->post({CaptureSessionEvent::Kind::serverDisconnected,
                                pa_strerror(pa_context_errno(context))});
                }
                self->scheduleReconnect();
                break;
            }
            default:
                break;
        }
    }

  public:
    void post(CaptureSessionEvent event) {
        std::weak_ptr<Impl> weak = weak_from_this();
        m_mainQueue.post([weak, event = std::move(event)] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            Subscribers snapshot;
            {
                std::lock_guard lock(self->m_subscribersMutex);
                snapshot = *self->m_subscribers;
            }
            for (auto& [id, handler] : snapshot) {
                handler(event);
            }
        });
    }

  private:
    MainQueue& m_mainQueue;
    std::string m_server;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;            // loop's lock
    pa_time_event* m_reconnectTimer = nullptr;  // loop's lock
    bool m_shuttingDown = false;                // loop's lock
    PulseSourceCache m_sources;                 // kept by the loop thread
    std::map<pa_stream*, void*> m_holders;      // loop's lock

    mutable std::mutex m_stateMutex;
    std::condition_variable m_stateCv;
    bool m_connected = false;
    bool m_everConnected = false;

    std::mutex m_subscribersMutex;
    uint64_t m_nextSubscriber = 0;
    std::shared_ptr<Subscribers> m_subscribers = std::make_shared<Subscribers>();
};

namespace {

class PulseStream : public CaptureStream {
  public:
    PulseStream(std::shared_ptr<PulseCaptureSession::Impl> impl, pa_stream* stream,
                std::shared_ptr<StreamShared> shared)
        : m_impl(std::move(impl)), m_stream(stream), m_shared(std::move(shared)) {}
    ~PulseStream() override { close(); }

    void close() override {
        if (m_stream == nullptr) {
            return;
        }
        m_impl->closeStream(m_stream);
        m_stream = nullptr;
    }

    bool isRunning() const override {
        std::lock_guard lock(m_shared->mutex);
        return m_stream != nullptr && m_shared->running;
    }

    void setLatency(CaptureLatency latency) override {
        if (m_stream != nullptr) {
            m_impl->setLatency(m_stream, latency);
        }
    }

  private:
    // Keeps the client alive as long as the stream exists.
    std::shared_ptr<PulseCaptureSession::Impl> m_impl;
    pa_stream* m_stream;
    std::shared_ptr<StreamShared> m_shared;
};

}  // namespace

PulseCaptureSession::PulseCaptureSession(MainQueue& mainQueue, std::string server)
    : m_impl(std::make_shared<Impl>(mainQueue, std::move(server))) {}

PulseCaptureSession::~PulseCaptureSession() = default;

void PulseCaptureSession::start() {
    m_impl->start();
}

bool PulseCaptureSession::isConnected() const {
    return m_impl->isConnected();
}

bool PulseCaptureSession::waitUntilConnected(double timeoutSeconds) {
    return m_impl->waitUntilConnected(timeoutSeconds);
}

std::vector<CaptureDevice> PulseCaptureSession::devices() {
    std::vector<CaptureDevice> out;
    for (auto& entry : m_impl->sources().list()) {
        out.push_back(std::move(entry.device));
    }
    return out;
}

std::optional<std::string> PulseCaptureSession::defaultDeviceID() {
    auto name = m_impl->sources().defaultName();
    // With no microphone the server's default may be an output's monitor,
    // which is not an input device.
    if (!name || !m_impl->sources().find(*name)) {
        return std::nullopt;
    }
    return name;
}

std::optional<CaptureDevice> PulseCaptureSession::device(const std::string& id) {
    auto entry = m_impl->sources().find(id);
    if (!entry) {
        return std::nullopt;
    }
    return entry->device;
}

std::unique_ptr<CaptureStream> PulseCaptureSession::openStream(const std::string& deviceID,
                                                               SerialQueue& deliveryQueue,
                                                               BufferHandler handler,
                                                               std::string& error) {
    auto source = m_impl->sources().find(deviceID);
    if (!source) {
        error = m_impl->isConnected() ? "no capture source named " + deviceID
                                      : "not connected to the audio server";
        return nullptr;
    }
    pa_stream* stream = nullptr;
    auto shared = m_impl->openStream(*source, deliveryQueue, std::move(handler), stream, error);
    if (!shared) {
        return nullptr;
    }
    return std::make_unique<PulseStream>(m_impl, stream, std::move(shared));
}

Subscription PulseCaptureSession::subscribe(EventHandler handler) {
    return m_impl->subscribe(std::move(handler));
}

bool PulseCaptureSession::looksLikeNoiseSuppression(const std::string& name,
                                                    const std::string& description) {
    std::string text = name + " " + description;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* marker : {"rnnoise", "noise suppress", "noise-suppress", "noise_suppress",
                               "noise cancel", "noise-cancel", "noise_cancel", "denoise"}) {
        if (text.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace velmarune
