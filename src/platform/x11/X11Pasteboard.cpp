#include "platform/x11/X11Pasteboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "foundation/Log.h"
#include "platform/x11/XcbSupport.h"

namespace velmarune {

using namespace x11;

namespace {
const Logger log{"X11Pasteboard"};
using Clock = std::chrono::steady_clock;

constexpr const char* kPasswordHint = "x-kde-passwordManagerHint";
// Large transfers are abandoned when the requestor stops taking chunks.
constexpr double kOutgoingIdleSeconds = 5.0;
// No representation we read may grow past this, whatever the owner claims.
constexpr size_t kMaxIncomingBytes = size_t{512} * 1024 * 1024;

const std::set<std::string>& metaTargets() {
    static const std::set<std::string> names = {
        "TARGETS",       "MULTIPLE",         "TIMESTAMP",       "SAVE_TARGETS",
        "DELETE",        "INSERT_SELECTION", "INSERT_PROPERTY", "SAVE_TARGETS",
        "_QT_SELECTION", "CLIPBOARD_MANAGER"};
    return names;
}

// One target we answer while we own the selection.
struct Offer {
    std::string name;
    xcb_atom_t target = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::optional<PasteboardBytes> data;
    std::shared_ptr<PasteboardDataProvider> provider;
    std::string providerType;

    std::optional<PasteboardBytes> produce() const {
        if (data) {
            return data;
        }
        return provider ? provider->provideData(providerType) : std::nullopt;
    }
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
    bool cancelled = false;
    bool done = false;
};
}  // namespace

struct X11Pasteboard::Impl {
    Bounds bounds;
    xcb_connection_t* conn = nullptr;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_connection_t* readConn = nullptr;
    xcb_window_t readWindow = XCB_WINDOW_NONE;
    uint8_t xfixesEventBase = 0;
    size_t chunkBytes = 65536;

    xcb_atom_t clipboard{}, targets{}, timestamp{}, multiple{}, incr{}, utf8{}, string{}, text{},
        atomType{}, integer{}, timeProperty{}, readProperty{};

    std::atomic<int64_t> changeCount{0};

    std::mutex stateMutex;  // the selection as we own it
    bool owned = false;
    xcb_timestamp_t ownedAt = XCB_CURRENT_TIME;
    std::vector<Offer> offers;

    std::mutex commandMutex;
    std::condition_variable commandDone;
    std::deque<std::shared_ptr<WriteCommand>> commands;
    int wakePipe[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};

    // Event thread only.
    std::map<std::string, xcb_atom_t> atomCache;
    std::list<OutgoingTransfer> transfers;

    std::mutex readMutex;  // the reading connection, used by one snapshot at a time

    ~Impl() {
        if (conn) {
            xcb_disconnect(conn);
        }
        if (readConn) {
            xcb_disconnect(readConn);
        }
        for (int fd : wakePipe) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    xcb_atom_t atom(const std::string& name) {
        auto it = atomCache.find(name);
        if (it != atomCache.end()) {
            return it->second;
        }
        const auto value = internAtom(conn, name);
        atomCache.emplace(name, value);
        return value;
    }

    static xcb_window_t makeWindow(xcb_connection_t* c, const xcb_screen_t* screen) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        return w;
    }

    void wake() {
        if (wakePipe[1] >= 0) {
            const char byte = 1;
            [[maybe_unused]] auto written = write(wakePipe[1], &byte, 1);
        }
    }

    // ---- event thread ----

    void run() {
        while (!stopping.load()) {
            while (EventPtr event{xcb_poll_for_event(conn)}) handle(event.get());
            if (xcb_connection_has_error(conn)) {
                log.error("X connection lost; clipboard unavailable");
                break;
            }
            runCommands();
            expireTransfers();
            pollfd fds[2] = {{xcb_get_file_descriptor(conn), POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            xcb_flush(conn);
            if (poll(fds, 2, 100) > 0 && (fds[1].revents & POLLIN)) {
                char buffer[64];
                [[maybe_unused]] auto got = read(wakePipe[0], buffer, sizeof buffer);
            }
        }
        running = false;
        // Wake any writer still waiting.
        std::lock_guard lock(commandMutex);
        for (auto& command : commands) command->done = true;
        commands.clear();
        commandDone.notify_all();
    }

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
            // Our own ownership changes were counted when we made them.
            if (notify->selection == clipboard && notify->owner != window) {
                ++changeCount;
            }
        }
    }

    void runCommands() {
        while (true) {
            std::shared_ptr<WriteCommand> command;
            {
                std::lock_guard lock(commandMutex);
                if (commands.empty()) {
                    return;
                }
                command = commands.front();
                commands.pop_front();
                if (command->cancelled) {
                    continue;
                }
            }
            takeOwnership(std::move(command->items));
            std::lock_guard lock(commandMutex);
            command->done = true;
            commandDone.notify_all();
        }
    }

    std::vector<Offer> buildOffers(std::vector<PasteboardItem> items) {
        std::vector<Offer> result;
        if (items.empty()) {
            return result;
        }
        if (items.size() > 1) {
            log.info("the clipboard holds one item; %{public}ld more dropped",
                     static_cast<int64_t>(items.size() - 1));
        }
        auto& item = items.front();
        std::set<std::string> names;
        auto add = [&](Offer offer) {
            if (names.insert(offer.name).second) {
                offer.target = atom(offer.name);
                if (offer.type == XCB_ATOM_NONE) {
                    offer.type = offer.target;
                }
                result.push_back(std::move(offer));
            }
        };
        bool transient = false;
        for (auto& [type, data] : item.data) {
            transient = transient || type == kTransientPasteboardType;
            add(Offer{type, XCB_ATOM_NONE, type == "TEXT" ? utf8 : kNoAtom, data, nullptr, {}});
        }
        for (const auto& type : item.promisedTypes) {
            if (type == "UTF8_STRING") {
                // Every text target a client may ask for, each one a read.
                for (const char* name :
                     {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING", "TEXT"}) {
                    add(Offer{name, XCB_ATOM_NONE, std::strcmp(name, "TEXT") == 0 ? utf8 : kNoAtom,
                              std::nullopt, item.provider, type});
                }
            } else {
                add(Offer{type, XCB_ATOM_NONE, XCB_ATOM_NONE, std::nullopt, item.provider, type});
            }
        }
        if (transient) {
            // The hint Linux clipboard managers honour.
            add(Offer{kPasswordHint,
                      XCB_ATOM_NONE,
                      XCB_ATOM_NONE,
                      PasteboardBytes("secret"),
                      nullptr,
                      {}});
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
            0.2, {}, [this](const xcb_generic_event_t* e) { handle(e); });
        return event ? reinterpret_cast<xcb_property_notify_event_t*>(event.get())->time
                     : XCB_CURRENT_TIME;
    }

    void takeOwnership(std::vector<PasteboardItem> items) {
        auto built = buildOffers(std::move(items));
        const auto time = serverTime();
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
        ++changeCount;
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
            if (!owned || request->selection != clipboard || request->requestor == readWindow) {
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

    void expireTransfers() {
        const auto now = Clock::now();
        transfers.remove_if([&](const OutgoingTransfer& t) {
            return std::chrono::duration<double>(now - t.lastActivity).count() >
                   kOutgoingIdleSeconds;
        });
    }

    // ---- reading connection (snapshot queue) ----

    std::optional<PasteboardBytes> readTarget(xcb_window_t owner, xcb_atom_t target,
                                              const std::function<bool()>& stop) {
        if (!readConn || xcb_connection_has_error(readConn)) {
            return std::nullopt;
        }
        XcbPtr<xcb_get_selection_owner_reply_t> current(xcb_get_selection_owner_reply(
            readConn, xcb_get_selection_owner(readConn, clipboard), nullptr));
        if (!current || current->owner != owner) {
            return std::nullopt;  // the contents changed under us
        }
        xcb_delete_property(readConn, readWindow, readProperty);
        xcb_convert_selection(readConn, readWindow, clipboard, target, readProperty,
                              XCB_CURRENT_TIME);
        auto answer = waitForEvent(
            readConn,
            [&](const xcb_generic_event_t* e) {
                if (eventType(e) != XCB_SELECTION_NOTIFY) {
                    return false;
                }
                auto n = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
                return n->requestor == readWindow && n->target == target;
            },
            bounds.replySeconds, stop);
        if (!answer || reinterpret_cast<xcb_selection_notify_event_t*>(answer.get())->property ==
                           XCB_ATOM_NONE) {
            return std::nullopt;
        }
        auto first = takeProperty();
        if (!first) {
            return std::nullopt;
        }
        if (first->first != incr) {
            return std::move(first->second);
        }
        PasteboardBytes data;
        while (true) {
            auto chunk = waitForEvent(
                readConn,
                [&](const xcb_generic_event_t* e) {
                    if (eventType(e) != XCB_PROPERTY_NOTIFY) {
                        return false;
                    }
                    auto p = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                    return p->window == readWindow && p->atom == readProperty &&
                           p->state == XCB_PROPERTY_NEW_VALUE;
                },
                bounds.chunkSeconds, stop);
            if (!chunk) {
                return std::nullopt;  // the owner stopped or died mid-transfer
            }
            auto piece = takeProperty();
            if (!piece || piece->first == XCB_ATOM_NONE) {
                continue;  // a stale notice; the property is gone already
            }
            if (piece->second.empty()) {
                return data;
            }
            if (data.size() + piece->second.size() > kMaxIncomingBytes) {
                return std::nullopt;
            }
            data += piece->second;
        }
    }

    // Reads and deletes our property: its type and bytes.
    std::optional<std::pair<xcb_atom_t, PasteboardBytes>> takeProperty() {
        XcbPtr<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(readConn,
                                   xcb_get_property(readConn, 1, readWindow, readProperty,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
                                   nullptr));
        if (!reply) {
            return std::nullopt;
        }
        auto bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
        const auto length = static_cast<size_t>(xcb_get_property_value_length(reply.get()));
        return std::make_pair(reply->type, PasteboardBytes(bytes, length));
    }

    std::vector<std::pair<std::string, xcb_atom_t>> readTargets(xcb_window_t owner,
                                                                const std::function<bool()>& stop) {
        std::vector<std::pair<std::string, xcb_atom_t>> result;
        auto list = readTarget(owner, targets, stop);
        if (!list) {
            return result;
        }
        const size_t count = std::min(list->size() / sizeof(xcb_atom_t), bounds.maxTargets);
        std::vector<xcb_atom_t> atoms(count);
        std::memcpy(atoms.data(), list->data(), count * sizeof(xcb_atom_t));
        std::vector<xcb_get_atom_name_cookie_t> cookies;
        for (auto a : atoms) cookies.push_back(xcb_get_atom_name(readConn, a));
        std::set<std::string> seen;
        for (size_t i = 0; i < count; ++i) {
            xcb_generic_error_t* error = nullptr;
            XcbPtr<xcb_get_atom_name_reply_t> reply(
                xcb_get_atom_name_reply(readConn, cookies[i], &error));
            std::free(error);
            if (!reply) {
                continue;  // not an atom at all
            }
            std::string name(xcb_get_atom_name_name(reply.get()),
                             static_cast<size_t>(xcb_get_atom_name_name_length(reply.get())));
            if (name.empty() || metaTargets().count(name) || !seen.insert(name).second) {
                continue;
            }
            result.emplace_back(std::move(name), atoms[i]);
        }
        return result;
    }
};

namespace {

// An item owned by another client, read over the reading connection.
class ForeignItemReader : public PasteboardItemReader {
  public:
    ForeignItemReader(std::shared_ptr<X11Pasteboard::Impl> impl, xcb_window_t owner)
        : m_impl(std::move(impl)), m_owner(owner) {}

    std::vector<std::string> types() override {
        std::lock_guard lock(m_impl->readMutex);
        if (!m_fetched) {
            m_targets = m_impl->readTargets(m_owner, {});
            m_fetched = true;
        }
        std::vector<std::string> names;
        for (const auto& [name, atom] : m_targets) names.push_back(name);
        return names;
    }

    std::optional<PasteboardBytes> data(const std::string& type,
                                        const std::function<bool()>& stop) override {
        std::lock_guard lock(m_impl->readMutex);
        for (const auto& [name, atom] : m_targets) {
            if (name == type) {
                return m_impl->readTarget(m_owner, atom, stop);
            }
        }
        return std::nullopt;
    }

  private:
    std::shared_ptr<X11Pasteboard::Impl> m_impl;
    xcb_window_t m_owner;
    bool m_fetched = false;
    std::vector<std::pair<std::string, xcb_atom_t>> m_targets;
};

// Our own contents, read from memory.
class OwnItemReader : public PasteboardItemReader {
  public:
    explicit OwnItemReader(std::vector<Offer> offers) : m_offers(std::move(offers)) {}
    std::vector<std::string> types() override {
        std::vector<std::string> names;
        for (const auto& offer : m_offers) names.push_back(offer.name);
        return names;
    }
    std::optional<PasteboardBytes> data(const std::string& type,
                                        const std::function<bool()>&) override {
        for (const auto& offer : m_offers) {
            if (offer.name == type) {
                return offer.produce();
            }
        }
        return std::nullopt;
    }

  private:
    std::vector<Offer> m_offers;
};

}  // namespace

X11Pasteboard::X11Pasteboard() : X11Pasteboard(Bounds{}) {}

X11Pasteboard::X11Pasteboard(Bounds bounds) : m_impl(std::make_shared<Impl>()) {
    m_impl->bounds = bounds;
}

X11Pasteboard::~X11Pasteboard() {
    stop();
}

bool X11Pasteboard::start(const std::string& display, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        log.error("clipboard unavailable: %{public}s", why);
        return false;
    };
    auto& impl = *m_impl;
    if (impl.running) {
        return true;
    }
    const char* name = display.empty() ? nullptr : display.c_str();
    impl.conn = xcb_connect(name, nullptr);
    impl.readConn = xcb_connect(name, nullptr);
    if (xcb_connection_has_error(impl.conn) || xcb_connection_has_error(impl.readConn)) {
        return fail("cannot connect to the X server");
    }
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
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(impl.conn)).data;
    const xcb_screen_t* readScreen = xcb_setup_roots_iterator(xcb_get_setup(impl.readConn)).data;
    impl.root = screen->root;
    impl.window = Impl::makeWindow(impl.conn, screen);
    impl.readWindow = Impl::makeWindow(impl.readConn, readScreen);

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
    impl.readProperty = impl.atom("_VELMARUNE_SELECTION");

    xcb_xfixes_select_selection_input(impl.conn, impl.root, impl.clipboard,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Leave room for the request header in every chunk we send.
    const size_t maxRequestBytes = xcb_get_maximum_request_length(impl.conn) * size_t{4};
    impl.chunkBytes = std::min<size_t>(256 * 1024, maxRequestBytes - 64);
    xcb_flush(impl.conn);
    xcb_flush(impl.readConn);

    if (pipe2(impl.wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail("cannot create a pipe");
    }
    impl.stopping = false;
    impl.running = true;
    impl.thread = std::thread([impl = m_impl] { impl->run(); });
    return true;
}

void X11Pasteboard::stop() {
    if (m_impl->thread.joinable()) {
        m_impl->stopping = true;
        m_impl->wake();
        m_impl->thread.join();
    }
}

int64_t X11Pasteboard::changeCount() const {
    return m_impl->changeCount.load();
}

void X11Pasteboard::setItems(std::vector<PasteboardItem> items) {
    auto& impl = *m_impl;
    if (!impl.running) {
        ++impl.changeCount;  // a write that could not happen still ends what was there
        return;
    }
    auto command = std::make_shared<WriteCommand>();
    command->items = std::move(items);
    std::unique_lock lock(impl.commandMutex);
    impl.commands.push_back(command);
    impl.wake();
    const bool done =
        impl.commandDone.wait_for(lock, std::chrono::duration<double>(impl.bounds.writeSeconds),
                                  [&] { return command->done; });
    if (!done) {
        command->cancelled = true;
        ++impl.changeCount;
        log.error("clipboard write timed out");
    }
}

std::vector<std::shared_ptr<PasteboardItemReader>> X11Pasteboard::readItems() {
    auto& impl = *m_impl;
    std::vector<std::shared_ptr<PasteboardItemReader>> result;
    std::unique_lock readLock(impl.readMutex);
    if (!impl.readConn || xcb_connection_has_error(impl.readConn)) {
        return result;
    }
    XcbPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        impl.readConn, xcb_get_selection_owner(impl.readConn, impl.clipboard), nullptr));
    readLock.unlock();
    if (!owner || owner->owner == XCB_WINDOW_NONE) {
        return result;
    }
    if (owner->owner == impl.window) {
        std::lock_guard lock(impl.stateMutex);
        result.push_back(std::make_shared<OwnItemReader>(impl.offers));
        return result;
    }
    result.push_back(std::make_shared<ForeignItemReader>(m_impl, owner->owner));
    return result;
}

std::vector<std::string> X11Pasteboard::preferredTypes() const {
    return {
        "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/uri-list", "text/html",
        "text/rtf"};
}

}  // namespace velmarune
