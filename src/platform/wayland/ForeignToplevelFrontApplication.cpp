#include "platform/wayland/ForeignToplevelFrontApplication.h"

#include <wayland-client.h>

#include <list>

#include "platform/wayland/FocusedWindow.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace velmarune {

struct ForeignToplevelFrontApplication::State {
    // One toplevel: what the compositor said, applied at its `done`.
    struct Toplevel {
        State* state = nullptr;
        zwlr_foreign_toplevel_handle_v1* handle = nullptr;
        uint64_t serial = 0;
        std::string appID, pendingAppID;
        bool activated = false, pendingActivated = false;
    };

    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    std::list<Toplevel> toplevels;  // loop thread
    uint64_t nextSerial = 1;

    std::shared_ptr<FocusRecord> record;

    ~State() {
        for (auto& t : toplevels) zwlr_foreign_toplevel_handle_v1_destroy(t.handle);
        if (manager) {
            zwlr_foreign_toplevel_manager_v1_destroy(manager);
        }
    }

    void update() {
        std::optional<FocusedWindow> now;
        for (const auto& t : toplevels) {
            if (t.activated) {
                now = FocusedWindow{std::to_string(t.serial), {}, 0};
                if (!t.appID.empty()) {
                    now->names.push_back(t.appID);
                }
                break;
            }
        }
        record->publish(std::move(now));
    }

    static Toplevel& of(void* data) { return *static_cast<Toplevel*>(data); }

    static void onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
    static void onAppID(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appID) {
        of(data).pendingAppID = appID;
    }
    static void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        bool activated = false;
        const auto* values = static_cast<const uint32_t*>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
            activated = activated || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
        of(data).pendingActivated = activated;
    }
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto& t = of(data);
        t.appID = t.pendingAppID;
        t.activated = t.pendingActivated;
        t.state->update();
    }
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        State* state = of(data).state;
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        state->toplevels.remove_if([handle](const Toplevel& t) { return t.handle == handle; });
        state->update();
    }
    static void onParent(void*, zwlr_foreign_toplevel_handle_v1*,
                         zwlr_foreign_toplevel_handle_v1*) {}

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* handle) {
        static const zwlr_foreign_toplevel_handle_v1_listener listener{
            &State::onTitle, &State::onAppID, &State::onOutput, &State::onOutput,
            &State::onState, &State::onDone,  &State::onClosed, &State::onParent};
        auto* state = static_cast<State*>(data);
        auto& t = state->toplevels.emplace_back();
        t.state = state;
        t.handle = handle;
        t.serial = state->nextSerial++;
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, &t);
    }
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
        auto* state = static_cast<State*>(data);
        zwlr_foreign_toplevel_manager_v1_destroy(state->manager);
        state->manager = nullptr;
    }
};

ForeignToplevelFrontApplication::ForeignToplevelFrontApplication()
    : m_state(std::make_shared<State>()) {
    m_state->record = m_record;
}

ForeignToplevelFrontApplication::~ForeignToplevelFrontApplication() = default;

bool ForeignToplevelFrontApplication::attach(std::shared_ptr<WaylandEventLoop> loop,
                                             std::string* error) {
    const auto global = loop->global(zwlr_foreign_toplevel_manager_v1_interface.name);
    if (!global) {
        if (error) {
            *error =
                "the compositor tells no window in front (no sway or Hyprland IPC, no "
                "wlr-foreign-toplevel-management)";
        }
        return false;
    }
    m_loop = loop;
    State& state = *m_state;
    // Version 3 adds `parent`, which the listener handles.
    state.manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        loop->registry(), global->name, &zwlr_foreign_toplevel_manager_v1_interface,
        std::min<uint32_t>(global->version, 3)));
    static const zwlr_foreign_toplevel_manager_v1_listener listener{&State::onToplevel,
                                                                    &State::onFinished};
    zwlr_foreign_toplevel_manager_v1_add_listener(state.manager, &listener, &state);
    std::weak_ptr<State> weak = m_state;
    loop->addDisconnectHandler([weak] {
        if (auto self = weak.lock()) {
            self->record->publish(std::nullopt);
        }
    });
    // The toplevels there are now, with their state.
    return loop->roundtrip() && loop->roundtrip();
}

}  // namespace velmarune
