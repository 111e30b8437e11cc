#include "platform/x11/X11Pasteboard.h"

#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <map>
#include <mutex>

#include "delivery/ClipboardOffers.h"
#include "foundation/Log.h"
#include "platform/PasteboardOffer.h"
#include "platform/x11/X11EventLoop.h"
#include "platform/x11/X11SelectionReader.h"
#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

namespace {
const Logger log{"X11Pasteboard"};
using Clock = std::chrono::steady_clock;

// Large transfers are abandoned when the requestor stops taking chunks.
constexpr double kOutgoingIdleSeconds = 5.0;
// One target we answer while we own the selection: the offer and its atoms.
struct Offer : PasteboardOffer {
    xcb_atom_t target = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
};

struct OutgoingTransfer {
    xcb_window_t requestor;
    xcb_atom_t property;
    xcb_atom_t type;
    PasteboardBytes data;
    size_t offset = 0;
    Clock::time_point lastActivity;
};

struct WriteCommand {
    std::vector<PasteboardItem> items;
    Clock::time_point deadline;
    bool superseded = false;  // commandMutex
};
}  // namespace

struct X11Pasteboard::Impl {
    Bounds bounds;
    std::shared_ptr<X11EventLoop> loop;
    xcb_connection_t* conn = nullptr;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_window_t root = XCB_WINDOW_NONE;
    std::shared_ptr<X11SelectionReader> reader;
    xcb_window_t readerWindow = XCB_WINDOW_NONE;
    uint8_t xfixesEventBase = 0;
    size_t chunkBytes = 65536;

    xcb_atom_t clipboard{}, targets{}, timestamp{}, multiple{}, incr{}, utf8{}, string{}, text{},
        atomType{}, integer{}, timeProperty{};

    std::atomic<int64_t> changeCount{0};

    std::mutex stateMutex;  // the selection as we own it
    bool owned = false;
    xcb_timestamp_t ownedAt = XCB_CURRENT_TIME;
    std::vector<Offer> offers;

    std::mutex commandMutex;
    std::shared_ptr<WriteCommand> latestWrite;

    // Loop thread only.
    std::map<std::string, xcb_atom_t> atomCache;
    std::list<OutgoingTransfer> transfers;

    xcb_atom_t atom(const std::string& name) {
        auto it = atomCache.find(name);
        if (it != atomCache.end()) {
            return it->second;
        }
        const auto value = internAtom(conn, name);
        atomCache.emplace(name, value);
        return value;
    }

    // ---- loop thread ----

    void handle(const xcb_generic_event_t* event) {
        const auto type = eventType(event);
        if (type == XCB_SELECTION_REQUEST) {
            serve(reinterpret_cast<const xcb_selection_request_event_t*>(event));
        } else if (type == XCB_SELECTION_CLEAR) {
            auto clear = reinterpret_cast<const xcb_selection_clear_event_t*>(event);
            if (clear->selection == clipboard) {
                // Another client owns it now; XFixes tells the count.
                std::lock_guard lock(stateMutex);
                owned = false;
                offers.clear();
            }
        } else if (type == XCB_PROPERTY_NOTIFY) {
            auto notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (notify->state == XCB_PROPERTY_DELETE) {
                continueTransfer(notify->window, notify->atom);
            }
        } else if (type == xfixesEventBase + XCB_XFIXES_SELECTION_NOTIFY) {
            auto notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
            // Only a client taking the selection is a new copy. An owner that
            // quits (window destroyed, client closed) wrote nothing: a
            // snapshot of what it held is still the user's clipboard, and
            // now its only copy. Our own changes were counted when made.
            if (notify->selection == clipboard && notify->owner != window &&
                notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER) {
                ++changeCount;
            }
        }
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
        takeOwnership(std::move(items), command->deadline);
    }

    // TEXT is answered as UTF8_STRING; every other target as itself.
    std::vector<Offer> buildOffers(std::vector<PasteboardItem> items) {
        std::vector<Offer> result;
        for (auto& offer : velmarune::buildOffers(std::move(items), "UTF8_STRING")) {
            const xcb_atom_t target = atom(offer.name);
            const xcb_atom_t type = offer.name == "TEXT" ? utf8 : target;
            result.push_back(Offer{std::move(offer), target, type});
        }
        return result;
    }

    xcb_timestamp_t serverTime() {
        // A zero-length append makes the server report the time.
        xcb_change_property(conn, XCB_PROP_MODE_APPEND, window, timeProperty, integer, 32, 0,
                            nullptr);
        auto event = waitForEvent(
            conn,
            [this](const xcb_generic_event_t* e) {
                if (eventType(e) != XCB_PROPERTY_NOTIFY) {
                    return false;
                }
                auto p = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                return p->window == window && p->atom == timeProperty;
            },
            0.2, {}, [this](const xcb_generic_event_t* e) { loop->dispatch(e); });
        return event ? reinterpret_cast<xcb_property_notify_event_t*>(event.get())->time
                     : XCB_CURRENT_TIME;
    }

    void takeOwnership(std::vector<PasteboardItem> items, Clock::time_point deadline) {
        auto built = buildOffers(std::move(items));
        const auto time = serverTime();
        // A write the caller gave up on must never land later and replace a
        // copy made since.
        if (Clock::now() > deadline) {
            log.error("clipboard write timed out; the clipboard was left as it was");
            return;
        }
        {
            // Publish before owning: a request may come the moment we own it.
            std::lock_guard lock(stateMutex);
            offers = std::move(built);
            ownedAt = time;
        }
        xcb_set_selection_owner(conn, window, clipboard, time);
        XcbPtr<xcb_get_selection_owner_reply_t> reply(
            xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, clipboard), nullptr));
        const bool ours = reply && reply->owner == window;
        {
            std::lock_guard lock(stateMutex);
            owned = ours;
            if (!ours) {
                offers.clear();
            }
        }
        if (!ours) {
            log.error("could not take the clipboard");
        }
    }

    void notify(const xcb_selection_request_event_t* request, xcb_atom_t property) {
        xcb_selection_notify_event_t reply{};
        reply.response_type = XCB_SELECTION_NOTIFY;
        reply.time = request->time;
        reply.requestor = request->requestor;
        reply.selection = request->selection;
        reply.target = request->target;
        reply.property = property;
        xcb_send_event(conn, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&reply));
        xcb_flush(conn);
    }

    void serve(const xcb_selection_request_event_t* request) {
        // Obsolete clients leave the property out and mean the target.
        const xcb_atom_t property =
            request->property == XCB_ATOM_NONE ? request->target : request->property;
        std::optional<Offer> offer;
        std::vector<xcb_atom_t> list;
        xcb_timestamp_t since = 0;
        {
            std::lock_guard lock(stateMutex);
            // Our own snapshot reader never reads our promise: it is no read.
            if (!owned || request->selection != clipboard || request->requestor == readerWindow) {
                notify(request, XCB_ATOM_NONE);
                return;
            }
            since = ownedAt;
            list = {targets, timestamp};
            for (const auto& o : offers) {
                list.push_back(o.target);
                if (o.target == request->target) {
                    offer = o;
                }
            }
        }
        if (request->target == targets) {
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, request->requestor, property, atomType,
                                32, static_cast<uint32_t>(list.size()), list.data());
            notify(request, property);
            return;
        }
        if (request->target == timestamp) {
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, request->requestor, property, integer,
                                32, 1, &since);
            notify(request, property);
            return;
        }
        // MULTIPLE and unknown targets are refused.
        auto data = offer ? offer->produce() : std::nullopt;
        if (!data) {
            notify(request, XCB_ATOM_NONE);
            return;
        }
        if (data->size() <= chunkBytes) {
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                offer->type, 8, static_cast<uint32_t>(data->size()), data->data());
            notify(request, property);
            return;
        }
        // Too big for one request: hand it over in chunks as the requestor
        // deletes each one.
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(conn, request->requestor, XCB_CW_EVENT_MASK, &mask);
        const auto size = static_cast<uint32_t>(std::min<size_t>(data->size(), UINT32_MAX));
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, request->requestor, property, incr, 32, 1,
                            &size);
        transfers.push_back(OutgoingTransfer{request->requestor, property, offer->type,
                                             std::move(*data), 0, Clock::now()});
        notify(request, property);
    }

    void continueTransfer(xcb_window_t requestor, xcb_atom_t property) {
        for (auto it = transfers.begin(); it != transfers.end(); ++it) {
            if (it->requestor != requestor || it->property != property) {
                continue;
            }
            const size_t left = it->data.size() - it->offset;
            const size_t count = std::min(left, chunkBytes);
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, requestor, property, it->type, 8,
                                static_cast<uint32_t>(count), it->data.data() + it->offset);
            xcb_flush(conn);
            if (count == 0) {
                transfers.erase(it);  // the empty chunk ends it
            } else {
                it->offset += count;
                it->lastActivity = Clock::now();
            }
            return;
        }
    }

    // Drops transfers the requestor stopped taking; the next time one is due.
    std::optional<Clock::time_point> expireTransfers() {
        const auto idle = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(kOutgoingIdleSeconds));
        const auto now = Clock::now();
        transfers.remove_if([&](const OutgoingTransfer& t) { return now - t.lastActivity > idle; });
        std::optional<Clock::time_point> next;
        for (const auto& t : transfers) {
            next = next ? std::min(*next, t.lastActivity + idle) : t.lastActivity + idle;
        }
        return next;
    }
};

X11Pasteboard::X11Pasteboard() : X11Pasteboard(Bounds{}) {}

X11Pasteboard::X11Pasteboard(Bounds bounds) : m_impl(std::make_shared<Impl>()) {
    m_impl->bounds = bounds;
}

X11Pasteboard::~X11Pasteboard() {
    stop();
}

bool X11Pasteboard::start(const std::string& display, std::string* error) {
    auto loop = std::make_shared<X11EventLoop>();
    if (!loop->connect(display, error)) {
        log.error("clipboard unavailable: cannot connect to the X server");
        return false;
    }
    if (!attach(loop, display, error)) {
        return false;
    }
    m_ownLoop = true;
    loop->start();
    return true;
}

bool X11Pasteboard::attach(std::shared_ptr<X11EventLoop> loop, const std::string& display,
                           std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        log.error("clipboard unavailable: %{public}s", why);
        return false;
    };
    auto& impl = *m_impl;
    impl.loop = loop;
    impl.conn = loop->connection();
    impl.reader = std::make_shared<X11SelectionReader>(X11SelectionReader::Bounds{
        impl.bounds.replySeconds, impl.bounds.chunkSeconds, impl.bounds.maxTargets});
    if (!impl.reader->connect(display.empty() ? nullptr : display.c_str())) {
        return fail("cannot connect to the X server");
    }
    impl.readerWindow = impl.reader->window();
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(impl.conn, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present) {
        return fail("the X server lacks XFIXES");
    }
    impl.xfixesEventBase = xfixes->first_event;
    XcbPtr<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        impl.conn, xcb_xfixes_query_version(impl.conn, 5, 0), nullptr));
    if (!version) {
        return fail("XFIXES does not answer");
    }
    impl.root = loop->root();
    impl.window = makeHiddenWindow(impl.conn, loop->screen());

    impl.clipboard = impl.atom("CLIPBOARD");
    impl.targets = impl.atom("TARGETS");
    impl.timestamp = impl.atom("TIMESTAMP");
    impl.multiple = impl.atom("MULTIPLE");
    impl.incr = impl.atom("INCR");
    impl.utf8 = impl.atom("UTF8_STRING");
    impl.string = XCB_ATOM_STRING;
    impl.text = impl.atom("TEXT");
    impl.atomType = XCB_ATOM_ATOM;
    impl.integer = XCB_ATOM_INTEGER;
    impl.timeProperty = impl.atom("_VELMARUNE_TIME");

    xcb_xfixes_select_selection_input(impl.conn, impl.root, impl.clipboard,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Leave room for the request header in every chunk we send.
    const size_t maxRequestBytes = xcb_get_maximum_request_length(impl.conn) * size_t{4};
    impl.chunkBytes = std::min<size_t>(256 * 1024, maxRequestBytes - 64);
    xcb_flush(impl.conn);

    std::weak_ptr<Impl> weak = m_impl;
    loop->addEventHandler([weak](const xcb_generic_event_t* event) {
        if (auto self = weak.lock()) {
            self->handle(event);
        }
    });
    loop->addDeadline([weak]() -> std::optional<Clock::time_point> {
        auto self = weak.lock();
        return self ? self->expireTransfers() : std::nullopt;
    });
    return true;
}

void X11Pasteboard::stop() {
    if (m_impl->loop && m_ownLoop) {
        m_impl->loop->stop();
    }
}

int64_t X11Pasteboard::changeCount() const {
    return m_impl->changeCount.load();
}

void X11Pasteboard::setItems(std::vector<PasteboardItem> items) {
    auto& impl = *m_impl;
    // Counted now, whether or not the write can happen: what was there is
    // no longer what the caller wants restored or kept.
    ++impl.changeCount;
    if (!impl.loop || !impl.loop->running()) {
        return;
    }
    auto command = std::make_shared<WriteCommand>();
    command->items = std::move(items);
    command->deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(impl.bounds.writeSeconds));
    {
        // Only the newest write matters; one still queued is dropped.
        std::lock_guard lock(impl.commandMutex);
        if (impl.latestWrite) {
            impl.latestWrite->superseded = true;
        }
        impl.latestWrite = command;
    }
    std::weak_ptr<Impl> weak = m_impl;
    impl.loop->post([weak, command] {
        if (auto self = weak.lock()) {
            self->write(command);
        }
    });
}

std::vector<std::shared_ptr<PasteboardItemReader>> X11Pasteboard::readItems() {
    auto& impl = *m_impl;
    std::vector<std::shared_ptr<PasteboardItemReader>> result;
    if (!impl.reader) {
        return result;
    }
    const xcb_window_t owner = impl.reader->owner();
    if (owner == XCB_WINDOW_NONE) {
        return result;
    }
    if (owner == impl.window) {
        std::lock_guard lock(impl.stateMutex);
        result.push_back(std::make_shared<OwnItemReader<Offer>>(impl.offers));
        return result;
    }
    result.push_back(impl.reader->itemReader(owner));
    return result;
}

std::vector<std::string> X11Pasteboard::preferredTypes() const {
    return {
        "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/uri-list", "text/html",
        "text/rtf"};
}

}  // namespace velmarune
