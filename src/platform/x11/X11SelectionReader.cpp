#include "platform/x11/X11SelectionReader.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/x11/XcbSupport.h"

namespace velmarune::x11 {

namespace {
// No representation we read may grow past this, whatever the owner claims.
constexpr size_t kMaxIncomingBytes = size_t{512} * 1024 * 1024;

// Targets that describe the selection rather than hold its data.
const std::set<std::string>& metaTargets() {
    static const std::set<std::string> names = {
        "TARGETS",          "MULTIPLE",        "TIMESTAMP",     "SAVE_TARGETS",     "DELETE",
        "INSERT_SELECTION", "INSERT_PROPERTY", "_QT_SELECTION", "CLIPBOARD_MANAGER"};
    return names;
}

// An item owned by another client; its targets are fetched once.
class ForeignItemReader : public PasteboardItemReader {
  public:
    ForeignItemReader(std::shared_ptr<X11SelectionReader> reader, xcb_window_t owner)
        : m_reader(std::move(reader)), m_owner(owner) {}

    std::vector<std::string> types() override {
        if (!m_fetched) {
            m_targets = m_reader->targets(m_owner);
            m_fetched = true;
        }
        std::vector<std::string> names;
        for (const auto& [name, atom] : m_targets) names.push_back(name);
        return names;
    }

    std::optional<PasteboardBytes> data(const std::string& type,
                                        const std::function<bool()>& stop) override {
        for (const auto& [name, atom] : m_targets) {
            if (name == type) {
                return m_reader->data(m_owner, atom, stop);
            }
        }
        return std::nullopt;
    }

  private:
    std::shared_ptr<X11SelectionReader> m_reader;
    xcb_window_t m_owner;
    bool m_fetched = false;
    std::vector<std::pair<std::string, xcb_atom_t>> m_targets;
};
}  // namespace

xcb_window_t makeHiddenWindow(xcb_connection_t* connection, const xcb_screen_t* screen) {
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    return window;
}

X11SelectionReader::~X11SelectionReader() {
    if (m_conn) {
        xcb_disconnect(m_conn);
    }
}

bool X11SelectionReader::connect(const char* display) {
    m_conn = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(m_conn)) {
        return false;
    }
    m_window = makeHiddenWindow(m_conn, xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data);
    m_clipboard = internAtom(m_conn, "CLIPBOARD");
    m_targets = internAtom(m_conn, "TARGETS");
    m_incr = internAtom(m_conn, "INCR");
    m_property = internAtom(m_conn, "_VELMARUNE_SELECTION");
    xcb_flush(m_conn);
    return true;
}

xcb_window_t X11SelectionReader::owner() {
    std::lock_guard lock(m_mutex);
    if (!m_conn || xcb_connection_has_error(m_conn)) {
        return XCB_WINDOW_NONE;
    }
    XcbPtr<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        m_conn, xcb_get_selection_owner(m_conn, m_clipboard), nullptr));
    return reply ? reply->owner : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
}

std::shared_ptr<PasteboardItemReader> X11SelectionReader::itemReader(xcb_window_t owner) {
    return std::make_shared<ForeignItemReader>(shared_from_this(), owner);
}

std::vector<std::pair<std::string, xcb_atom_t>> X11SelectionReader::targets(xcb_window_t owner) {
    std::lock_guard lock(m_mutex);
    return readTargets(owner);
}

std::optional<PasteboardBytes> X11SelectionReader::data(xcb_window_t owner, xcb_atom_t target,
                                                        const std::function<bool()>& stop) {
    std::lock_guard lock(m_mutex);
    return readTarget(owner, target, stop);
}

std::optional<PasteboardBytes> X11SelectionReader::readTarget(xcb_window_t owner, xcb_atom_t target,
                                                              const std::function<bool()>& stop) {
    if (!m_conn || xcb_connection_has_error(m_conn)) {
        return std::nullopt;
    }
    XcbPtr<xcb_get_selection_owner_reply_t> current(xcb_get_selection_owner_reply(
        m_conn, xcb_get_selection_owner(m_conn, m_clipboard), nullptr));
    if (!current || current->owner != owner) {
        return std::nullopt;  // the contents changed under us
    }
    xcb_delete_property(m_conn, m_window, m_property);
    xcb_convert_selection(m_conn, m_window, m_clipboard, target, m_property, XCB_CURRENT_TIME);
    auto answer = waitForEvent(
        m_conn,
        [&](const xcb_generic_event_t* e) {
            if (eventType(e) != XCB_SELECTION_NOTIFY) {
                return false;
            }
            auto n = reinterpret_cast<const xcb_selection_notify_event_t*>(e);
            return n->requestor == m_window && n->target == target;
        },
        m_bounds.replySeconds, stop);
    if (!answer ||
        reinterpret_cast<xcb_selection_notify_event_t*>(answer.get())->property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    auto first = takeProperty();
    if (!first) {
        return std::nullopt;
    }
    if (first->first != m_incr) {
        return std::move(first->second);
    }
    PasteboardBytes data;
    while (true) {
        auto chunk = waitForEvent(
            m_conn,
            [&](const xcb_generic_event_t* e) {
                if (eventType(e) != XCB_PROPERTY_NOTIFY) {
                    return false;
                }
                auto p = reinterpret_cast<const xcb_property_notify_event_t*>(e);
                return p->window == m_window && p->atom == m_property &&
                       p->state == XCB_PROPERTY_NEW_VALUE;
            },
            m_bounds.chunkSeconds, stop);
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
std::optional<std::pair<xcb_atom_t, PasteboardBytes>> X11SelectionReader::takeProperty() {
    XcbPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(m_conn,
                               xcb_get_property(m_conn, 1, m_window, m_property,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
                               nullptr));
    if (!reply) {
        return std::nullopt;
    }
    auto bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const auto length = static_cast<size_t>(xcb_get_property_value_length(reply.get()));
    return std::make_pair(reply->type, PasteboardBytes(bytes, length));
}

std::vector<std::pair<std::string, xcb_atom_t>> X11SelectionReader::readTargets(
    xcb_window_t owner) {
    std::vector<std::pair<std::string, xcb_atom_t>> result;
    auto list = readTarget(owner, m_targets, {});
    if (!list) {
        return result;
    }
    const size_t count = std::min(list->size() / sizeof(xcb_atom_t), m_bounds.maxTargets);
    if (count == 0) {
        return result;  // memcpy must not be handed an empty vector's null data
    }
    std::vector<xcb_atom_t> atoms(count);
    std::memcpy(atoms.data(), list->data(), count * sizeof(xcb_atom_t));
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    for (auto a : atoms) cookies.push_back(xcb_get_atom_name(m_conn, a));
    std::set<std::string> seen;
    for (size_t i = 0; i < count; ++i) {
        xcb_generic_error_t* error = nullptr;
        XcbPtr<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(m_conn, cookies[i], &error));
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

}  // namespace velmarune::x11
