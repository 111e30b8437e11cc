#pragma once

#include <pulse/context.h>
#include <pulse/introspect.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/CaptureSession.h"

namespace velmarune {

// A capture source as the server describes it.
struct PulseSource {
    uint32_t index = PA_INVALID_INDEX;
    CaptureDevice device;
    pa_sample_spec sampleSpec{};
    pa_channel_map map{};
};

// What the server has: its capture sources (monitors of outputs left out)
// and its default source, listed afresh on each connection and kept current
// from subscription events by the client's loop thread. Questions from other
// threads are answered from memory; only right after a connection is made
// does one wait (bounded) for the first listing.
class PulseSourceCache {
  public:
    using Post = std::function<void(CaptureSessionEvent)>;
    // `post` tells the session's subscribers of a change; `connected` says
    // whether a listing is on its way.
    PulseSourceCache(Post post, std::function<bool()> connected);

    // --- loop thread ---
    // Lists the sources and the default afresh on a connection just made.
    void refresh(pa_context* context);
    // The connection is gone: nothing is known, and waiting questions return.
    void clear();
    // Keeps the cache current; needs source and server events subscribed.
    void handle(pa_context* context, pa_subscription_event_type_t type, uint32_t index);

    // --- any other thread ---
    std::vector<PulseSource> list();
    std::optional<PulseSource> find(const std::string& name);
    std::optional<std::string> defaultName();

  private:
    // Both the first listing and the default are in (under the lock).
    bool ready() const { return m_listed && m_defaultRead; }
    void waitUntilRead(std::unique_lock<std::mutex>& lock);
    void readDefault(pa_context* context);
    void markRead(bool& part);
    // Stores a source; true when it was not known before.
    bool store(const pa_source_info* info);

    Post m_post;
    std::function<bool()> m_connected;
    std::mutex m_mutex;
    std::condition_variable m_read;
    std::map<uint32_t, PulseSource> m_sources;
    std::string m_default;
    bool m_listed = false, m_defaultRead = false;
    bool m_defaultEverRead = false;  // a change across a reconnection is a change too
};

}  // namespace velmarune
