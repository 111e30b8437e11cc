#include "platform/pulse/PulseSourceCache.h"

#include <pulse/operation.h>
#include <pulse/subscribe.h>

#include <chrono>
#include <utility>

#include "platform/pulse/PulseCaptureSession.h"

namespace velmarune {

namespace {

constexpr auto kListingTimeout = std::chrono::seconds(3);

bool isMonitor(const pa_source_info* info) {
    return info->monitor_of_sink != PA_INVALID_INDEX;
}

PulseSource sourceFrom(const pa_source_info* info) {
    PulseSource source;
    source.index = info->index;
    source.device.id = info->name != nullptr ? info->name : "";
    source.device.name = info->description != nullptr ? info->description : source.device.id;
    source.device.isNoiseSuppressionFilter =
        PulseCaptureSession::looksLikeNoiseSuppression(source.device.id, source.device.name);
    source.sampleSpec = info->sample_spec;
    source.map = info->channel_map;
    return source;
}

void forget(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

}  // namespace

PulseSourceCache::PulseSourceCache(Post post, std::function<bool()> connected)
    : m_post(std::move(post)), m_connected(std::move(connected)) {}

void PulseSourceCache::refresh(pa_context* context) {
    clear();
    forget(pa_context_get_source_info_list(
        context,
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* self = static_cast<PulseSourceCache*>(data);
            if (eol == 0 && info != nullptr && !isMonitor(info)) {
                self->store(info);
            } else if (eol != 0) {
                self->markRead(self->m_listed);
            }
        },
        this));
    readDefault(context);
}

void PulseSourceCache::clear() {
    {
        std::lock_guard lock(m_mutex);
        m_sources.clear();
        m_listed = m_defaultRead = false;
    }
    m_read.notify_all();
}

void PulseSourceCache::handle(pa_context* context, pa_subscription_event_type_t type,
                              uint32_t index) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        readDefault(context);
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SOURCE) {
        return;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        std::optional<std::string> removed;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_sources.find(index);
            if (it != m_sources.end()) {
                removed = it->second.device.id;
                m_sources.erase(it);
            }
        }
        if (removed) {
            m_post({CaptureSessionEvent::Kind::sourceRemoved, *removed});
        }
    } else if (kind == PA_SUBSCRIPTION_EVENT_NEW || kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
        // A change may rename a source (and so change its mode).
        forget(pa_context_get_source_info_by_index(
            context, index,
            [](pa_context*, const pa_source_info* info, int eol, void* data) {
                auto* self = static_cast<PulseSourceCache*>(data);
                if (eol == 0 && info != nullptr && !isMonitor(info) && self->store(info)) {
                    self->m_post({CaptureSessionEvent::Kind::sourceAdded, info->name});
                }
            },
            this));
    }
}

std::vector<PulseSource> PulseSourceCache::list() {
    std::unique_lock lock(m_mutex);
    waitUntilRead(lock);
    std::vector<PulseSource> sources;
    for (const auto& [index, source] : m_sources) sources.push_back(source);
    return sources;
}

std::optional<PulseSource> PulseSourceCache::find(const std::string& name) {
    std::unique_lock lock(m_mutex);
    waitUntilRead(lock);
    for (const auto& [index, source] : m_sources) {
        if (source.device.id == name) {
            return source;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PulseSourceCache::defaultName() {
    std::unique_lock lock(m_mutex);
    waitUntilRead(lock);
    if (!ready() || m_default.empty()) {
        return std::nullopt;
    }
    return m_default;
}

void PulseSourceCache::waitUntilRead(std::unique_lock<std::mutex>& lock) {
    if (!ready() && m_connected()) {
        m_read.wait_for(lock, kListingTimeout, [this] { return ready() || !m_connected(); });
    }
}

void PulseSourceCache::readDefault(pa_context* context) {
    forget(pa_context_get_server_info(
        context,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* self = static_cast<PulseSourceCache*>(data);
            const std::string name = info != nullptr && info->default_source_name != nullptr
                                         ? info->default_source_name
                                         : "";
            std::string previous;
            bool known = false;
            {
                std::lock_guard lock(self->m_mutex);
                previous = std::exchange(self->m_default, name);
                known = std::exchange(self->m_defaultEverRead, true);
            }
            if (known && name != previous) {
                self->m_post({CaptureSessionEvent::Kind::defaultSourceChanged, name});
            }
            self->markRead(self->m_defaultRead);
        },
        this));
}

void PulseSourceCache::markRead(bool& part) {
    {
        std::lock_guard lock(m_mutex);
        part = true;
    }
    m_read.notify_all();
}

bool PulseSourceCache::store(const pa_source_info* info) {
    std::lock_guard lock(m_mutex);
    const bool added = m_sources.find(info->index) == m_sources.end();
    m_sources[info->index] = sourceFrom(info);
    return added;
}

}  // namespace velmarune
