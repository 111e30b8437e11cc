#include "platform/wayland/WaylandPasteboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <list>
#include <map>
#include <mutex>

#include "delivery/ClipboardOffers.h"
#include "ext-data-control-v1-client.h"
#include "foundation/Log.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "platform/wayland/WaylandOffers.h"
#include "wlr-data-control-unstable-v1-client.h"

namespace velmarune {

namespace {
const Logger log{"WaylandPasteboard"};
using Clock = std::chrono::steady_clock;

using Offer = PasteboardOffer;

// A reader that stops taking a large transfer is dropped after this long.
constexpr double kOutgoingIdleSeconds = 5.0;

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

// The ext and wlr protocols have the same requests and events in the same
// order with the same arguments, so one implementation speaks either, given
// the interfaces the scanner generated for each.
struct DataControl {
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    std::string name;
    uint32_t version;  // the highest we bind; above it come events we do not use
};

const DataControl kExt{&ext_data_control_manager_v1_interface,
                       &ext_data_control_device_v1_interface, &ext_data_control_source_v1_interface,
                       "ext-data-control-v1", 1};
const DataControl kWlr{&zwlr_data_control_manager_v1_interface,
                       &zwlr_data_control_device_v1_interface,
                       &zwlr_data_control_source_v1_interface, "wlr-data-control-unstable-v1", 1};

// Request numbers, shared by both protocols.
enum : uint32_t {
    kManagerCreateSource = 0,
    kManagerGetDevice = 1,
    kManagerDestroy = 2,
    kDeviceSetSelection = 0,
    kDeviceDestroy = 1,
    kSourceOffer = 0,
    kSourceDestroy = 1,
    kOfferReceive = 0,
    kOfferDestroy = 1,
};

void destroyProxy(wl_proxy* proxy, uint32_t opcode) {
    if (proxy) {
        wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy),
                               WL_MARSHAL_FLAG_DESTROY);
    }
}

// The events, laid out as the scanner lays out each protocol's listener.
struct DeviceListener {
    void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
    void (*selection)(void*, wl_proxy*, wl_proxy*);
    void (*finished)(void*, wl_proxy*);
    void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
};
struct SourceListener {
    void (*send)(void*, wl_proxy*, const char*, int32_t);
    void (*cancelled)(void*, wl_proxy*);
};
struct OfferListener {
    void (*offer)(void*, wl_proxy*, const char*);
};

template <class Listener>
void listen(wl_proxy* proxy, const Listener& listener, void* data) {
    wl_proxy_add_listener(
        proxy, reinterpret_cast<void (**)(void)>(const_cast<Listener*>(&listener)), data);
}

// A selection offered by another client. `proxy` is touched on the loop
// thread only and is null once the selection has changed.
struct OfferHandle {
    wl_proxy* proxy = nullptr;
    std::vector<std::string> types;
};

struct WriteCommand {
    std::vector<PasteboardItem> items;
    Clock::time_point deadline;
    bool superseded = false;  // commandMutex
};

struct Outgoing {
    int fd = -1;
    PasteboardBytes data;
    size_t offset = 0;
    Clock::time_point lastActivity;
};

}  // namespace

struct WaylandPasteboard::Impl : std::enable_shared_from_this<Impl> {
    struct Source {
        wl_proxy* proxy = nullptr;
        std::vector<Offer> offers;
        Impl* impl = nullptr;
    };

    Bounds bounds;
    DataControl protocol = kWlr;
    std::shared_ptr<WaylandEventLoop> loop;
    wl_proxy* manager = nullptr;
    wl_proxy* device = nullptr;

    std::atomic<int64_t> changeCount{0};

    std::mutex stateMutex;  // what readers on other threads see
    bool owned = false;
    std::vector<Offer> ownOffers;
    std::shared_ptr<OfferHandle> current;

    std::mutex commandMutex;
    std::shared_ptr<WriteCommand> latestWrite;

    // Loop thread only.
    std::map<wl_proxy*, std::shared_ptr<OfferHandle>> pendingOffers;
    std::unique_ptr<Source> ownSource;
    std::list<std::unique_ptr<Source>> retiredSources;  // replaced, until cancelled
    std::list<Outgoing> transfers;

    ~Impl() {
        // The loop has stopped: nothing else touches the connection.
        for (auto& [proxy, handle] : pendingOffers) destroyProxy(proxy, kOfferDestroy);
        if (current) {
            destroyProxy(current->proxy, kOfferDestroy);
        }
        for (auto& source : retiredSources) destroyProxy(source->proxy, kSourceDestroy);
        if (ownSource) {
            destroyProxy(ownSource->proxy, kSourceDestroy);
        }
        for (auto& t : transfers) close(t.fd);
        destroyProxy(device, kDeviceDestroy);
        destroyProxy(manager, kManagerDestroy);
    }

    // ---- loop thread: the device's events ----

    static void onDataOffer(void* data, wl_proxy*, wl_proxy* offer) {
        static const OfferListener listener{&Impl::onOfferType};
        auto* self = static_cast<Impl*>(data);
        listen(offer, listener, self);
        self->pendingOffers[offer] = std::make_shared<OfferHandle>(OfferHandle{offer, {}});
    }

    static void onOfferType(void* data, wl_proxy* offer, const char* type) {
        auto* self = static_cast<Impl*>(data);
        auto it = self->pendingOffers.find(offer);
        if (it != self->pendingOffers.end() && it->second->types.size() < self->bounds.maxTypes) {
            it->second->types.emplace_back(type);
        }
    }

    static void onSelection(void* data, wl_proxy*, wl_proxy* offer) {
        static_cast<Impl*>(data)->selectionChanged(offer);
    }

    static void onPrimarySelection(void* data, wl_proxy*, wl_proxy* offer) {
        // The primary selection is not the clipboard.
        auto* self = static_cast<Impl*>(data);
        if (offer) {
            self->pendingOffers.erase(offer);
            destroyProxy(offer, kOfferDestroy);
        }
    }

    static void onFinished(void* data, wl_proxy*) {
        auto* self = static_cast<Impl*>(data);
        log.error("the compositor withdrew clipboard control");
        destroyProxy(self->device, kDeviceDestroy);
        self->device = nullptr;
    }

    void selectionChanged(wl_proxy* offer) {
        std::shared_ptr<OfferHandle> handle;
        if (offer) {
            auto it = pendingOffers.find(offer);
            if (it != pendingOffers.end()) {
                handle = it->second;
                pendingOffers.erase(it);
            }
            // Only a client taking the selection is a new copy; our own
            // writes were counted when made. An owner that quits leaves it
            // empty: what a snapshot holds of it is still the user's.
            if (!ownSource) {
                ++changeCount;
            }
        }
        std::shared_ptr<OfferHandle> previous;
        {
            std::lock_guard lock(stateMutex);
            previous = std::exchange(current, handle);
        }
        if (previous && previous->proxy) {
            destroyProxy(previous->proxy, kOfferDestroy);
            previous->proxy = nullptr;
        }
    }

    // ---- loop thread: our own sources ----

    static void onSend(void* data, wl_proxy*, const char* type, int32_t fd) {
        auto* source = static_cast<Source*>(data);
        source->impl->send(*source, type, fd);
    }

    static void onCancelled(void* data, wl_proxy* proxy) {
        auto* source = static_cast<Source*>(data);
        source->impl->cancelled(proxy);
    }

    void send(const Source& source, const std::string& type, int fd) {
        std::optional<PasteboardBytes> data;
        for (const auto& offer : source.offers) {
            if (offer.name == type) {
                data = offer.produce();
                break;
            }
        }
        if (!data) {
            close(fd);
            return;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        transfers.push_back(Outgoing{fd, std::move(*data), 0, Clock::now()});
        auto it = std::prev(transfers.end());
        if (pump(*it)) {
            close(fd);
            transfers.erase(it);
            return;
        }
        // The reader takes it slowly: go on as the pipe drains.
        std::weak_ptr<Impl> weak = weak_from_this();
        loop->watch(fd, POLLOUT, [weak, fd](short) {
            if (auto self = weak.lock()) {
                self->continueTransfer(fd);
            }
        });
    }

    // Writes what the pipe takes; true when the transfer is over (done, or
    // the reader went away).
    static bool pump(Outgoing& t) {
        while (t.offset < t.data.size()) {
            const ssize_t n = ::write(t.fd, t.data.data() + t.offset, t.data.size() - t.offset);
            if (n > 0) {
                t.offset += static_cast<size_t>(n);
                t.lastActivity = Clock::now();
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return !(n < 0 && errno == EAGAIN);
            }
        }
        return true;
    }

    void continueTransfer(int fd) {
        for (auto it = transfers.begin(); it != transfers.end(); ++it) {
            if (it->fd == fd) {
                if (pump(*it)) {
                    loop->unwatch(fd);
                    close(fd);
                    transfers.erase(it);
                }
                return;
            }
        }
    }

    std::optional<Clock::time_point> expireTransfers() {
        const auto idle = seconds(kOutgoingIdleSeconds);
        const auto now = Clock::now();
        std::optional<Clock::time_point> next;
        for (auto it = transfers.begin(); it != transfers.end();) {
            if (now - it->lastActivity > idle) {
                loop->unwatch(it->fd);
                close(it->fd);
                it = transfers.erase(it);
                continue;
            }
            next = next ? std::min(*next, it->lastActivity + idle) : it->lastActivity + idle;
            ++it;
        }
        return next;
    }

    void cancelled(wl_proxy* proxy) {
        if (ownSource && ownSource->proxy == proxy) {
            // Another client owns the selection now; its selection event counts.
            {
                std::lock_guard lock(stateMutex);
                owned = false;
                ownOffers.clear();
            }
            destroyProxy(proxy, kSourceDestroy);
            ownSource.reset();
            return;
        }
        retiredSources.remove_if([proxy](const std::unique_ptr<Source>& s) {
            if (s->proxy != proxy) {
                return false;
            }
            destroyProxy(proxy, kSourceDestroy);
            return true;
        });
    }

    void write(const std::shared_ptr<WriteCommand>& command) {
        std::vector<PasteboardItem> items;
        {
            std::lock_guard lock(commandMutex);
            if (command->superseded) {
                return;
            }
            items = std::move(command->items);
        }
        // A write the caller gave up on must never land later and replace a
        // copy made since.
        if (Clock::now() > command->deadline) {
            log.error("clipboard write timed out; the clipboard was left as it was");
            return;
        }
        if (!device) {
            return;
        }
        auto offers = buildOffers(std::move(items), "text/plain;charset=utf-8");
        std::unique_ptr<Source> source;
        if (!offers.empty()) {
            static const SourceListener listener{&Impl::onSend, &Impl::onCancelled};
            source = std::make_unique<Source>();
            source->impl = this;
            source->proxy = wl_proxy_marshal_flags(manager, kManagerCreateSource, protocol.source,
                                                   wl_proxy_get_version(manager), 0, nullptr);
            listen(source->proxy, listener, source.get());
            for (const auto& offer : offers) {
                wl_proxy_marshal_flags(source->proxy, kSourceOffer, nullptr,
                                       wl_proxy_get_version(source->proxy), 0, offer.name.c_str());
            }
            source->offers = offers;
        }
        {
            // Published before the selection is ours: a read may come at once.
            std::lock_guard lock(stateMutex);
            owned = source != nullptr;
            ownOffers = std::move(offers);
        }
        wl_proxy_marshal_flags(device, kDeviceSetSelection, nullptr, wl_proxy_get_version(device),
                               0, source ? source->proxy : nullptr);
        if (ownSource) {
            retiredSources.push_back(std::move(ownSource));
        }
        ownSource = std::move(source);
    }
};

namespace {

// Another client's selection, read type by type through a pipe.
class OfferReader : public PasteboardItemReader {
  public:
    OfferReader(std::shared_ptr<OfferHandle> handle, std::weak_ptr<WaylandPasteboard::Impl> impl,
                WaylandPasteboard::Bounds bounds, std::vector<std::string> types)
        : m_handle(std::move(handle)),
          m_impl(std::move(impl)),
          m_bounds(bounds),
          m_types(std::move(types)) {}

    std::vector<std::string> types() override { return m_types; }

    std::optional<PasteboardBytes> data(const std::string& type,
                                        const std::function<bool()>& stop) override {
        auto impl = m_impl.lock();
        int fds[2];
        if (!impl || pipe2(fds, O_CLOEXEC) != 0) {
            return std::nullopt;
        }
        const int readFd = fds[0];
        const int writeFd = fds[1];
        auto handle = m_handle;
        const bool posted = impl->loop->post([handle, type, writeFd] {
            if (handle->proxy) {
                wl_proxy_marshal_flags(handle->proxy, kOfferReceive, nullptr,
                                       wl_proxy_get_version(handle->proxy), 0, type.c_str(),
                                       writeFd);
            }
            // The compositor has its own copy; ours would keep the pipe open.
            close(writeFd);
        });
        if (!posted) {
            close(writeFd);
            close(readFd);
            return std::nullopt;
        }
        impl.reset();  // a long read must not keep the pasteboard alive
        auto result = readPipe(readFd, stop, m_bounds.replySeconds, m_bounds.chunkSeconds);
        close(readFd);
        if (!result) {
            return std::nullopt;
        }
        // An owner that quit or was replaced mid-transfer may have cut it short.
        if (auto now = m_impl.lock()) {
            std::lock_guard lock(now->stateMutex);
            if (now->current != m_handle) {
                return std::nullopt;
            }
        }
        return result;
    }

  private:
    std::shared_ptr<OfferHandle> m_handle;
    std::weak_ptr<WaylandPasteboard::Impl> m_impl;
    WaylandPasteboard::Bounds m_bounds;
    std::vector<std::string> m_types;
};

}  // namespace

WaylandPasteboard::WaylandPasteboard() : WaylandPasteboard(Bounds{}) {}

WaylandPasteboard::WaylandPasteboard(Bounds bounds) : m_impl(std::make_shared<Impl>()) {
    m_impl->bounds = bounds;
}

WaylandPasteboard::~WaylandPasteboard() = default;

bool WaylandPasteboard::attach(std::shared_ptr<WaylandEventLoop> loop, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    Impl& impl = *m_impl;
    std::optional<WaylandEventLoop::Global> global;
    for (const DataControl* candidate : {&kExt, &kWlr}) {
        if ((global = loop->global(candidate->manager->name))) {
            impl.protocol = *candidate;
            break;
        }
    }
    if (!global) {
        return fail(
            "the compositor offers no clipboard control (ext-data-control-v1 or "
            "wlr-data-control-unstable-v1)");
    }
    wl_seat* seat = loop->seat();
    if (!seat) {
        return fail("the compositor has no seat");
    }
    m_loop = loop;
    impl.loop = loop;
    impl.manager = static_cast<wl_proxy*>(
        wl_registry_bind(loop->registry(), global->name, impl.protocol.manager,
                         std::min(global->version, impl.protocol.version)));
    impl.device = wl_proxy_marshal_flags(impl.manager, kManagerGetDevice, impl.protocol.device,
                                         wl_proxy_get_version(impl.manager), 0, nullptr, seat);
    static const DeviceListener listener{&Impl::onDataOffer, &Impl::onSelection, &Impl::onFinished,
                                         &Impl::onPrimarySelection};
    listen(impl.device, listener, &impl);
    std::weak_ptr<Impl> weak = m_impl;
    loop->addDeadline([weak]() -> std::optional<Clock::time_point> {
        auto self = weak.lock();
        return self ? self->expireTransfers() : std::nullopt;
    });
    // The current selection arrives now, before anything is asked of us.
    if (!loop->roundtrip()) {
        return fail("the compositor refused clipboard control");
    }
    return true;
}

std::string WaylandPasteboard::protocolName() const {
    return m_impl->protocol.name;
}

int64_t WaylandPasteboard::changeCount() const {
    return m_impl->changeCount.load();
}

void WaylandPasteboard::setItems(std::vector<PasteboardItem> items) {
    auto& impl = *m_impl;
    // Counted now, whether or not the write can happen: what was there is
    // no longer what the caller wants restored or kept.
    ++impl.changeCount;
    if (!m_loop || !m_loop->running()) {
        return;
    }
    auto command = std::make_shared<WriteCommand>();
    command->items = std::move(items);
    command->deadline = Clock::now() + seconds(impl.bounds.writeSeconds);
    {
        // Only the newest write matters; one still queued is dropped.
        std::lock_guard lock(impl.commandMutex);
        if (impl.latestWrite) {
            impl.latestWrite->superseded = true;
        }
        impl.latestWrite = command;
    }
    std::weak_ptr<Impl> weak = m_impl;
    m_loop->post([weak, command] {
        if (auto self = weak.lock()) {
            self->write(command);
        }
    });
}

std::vector<std::shared_ptr<PasteboardItemReader>> WaylandPasteboard::readItems() {
    auto& impl = *m_impl;
    std::vector<std::shared_ptr<PasteboardItemReader>> result;
    std::lock_guard lock(impl.stateMutex);
    if (impl.owned) {
        result.push_back(std::make_shared<OwnItemReader<Offer>>(impl.ownOffers));
    } else if (impl.current) {
        // The type list is complete once the selection event came.
        result.push_back(
            std::make_shared<OfferReader>(impl.current, m_impl, impl.bounds, impl.current->types));
    }
    return result;
}

std::vector<std::string> WaylandPasteboard::preferredTypes() const {
    return {"text/plain;charset=utf-8",
            "text/plain",
            "UTF8_STRING",
            "STRING",
            "TEXT",
            "text/uri-list",
            "text/html",
            "text/rtf"};
}

}  // namespace velmarune
