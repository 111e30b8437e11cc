#include "platform/linux/WaylandRegistryProbe.h"

#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace velmarune {

namespace {

void onGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    static_cast<WaylandRegistry*>(data)->globals.emplace_back(interface);
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

void onDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}
const wl_callback_listener kDoneListener{onDone};

}  // namespace

WaylandRegistry probeWaylandRegistry(const std::string& socket, double timeoutSeconds) {
    WaylandRegistry result;
    wl_display* display = wl_display_connect(socket.empty() ? nullptr : socket.c_str());
    if (display == nullptr) {
        result.error =
            "cannot connect to the Wayland compositor (" + std::string(std::strerror(errno)) + ")";
        return result;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &result);
    bool done = false;
    wl_callback* sync = wl_display_sync(display);
    wl_callback_add_listener(sync, &kDoneListener, &done);
    // A round trip by hand: wl_display_roundtrip would wait for ever on a
    // compositor that hangs.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(timeoutSeconds * 1000));
    while (!done) {
        while (wl_display_prepare_read(display) != 0) {
            wl_display_dispatch_pending(display);
        }
        if (done) {
            wl_display_cancel_read(display);
            break;
        }
        wl_display_flush(display);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{wl_display_get_fd(display), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display);
            result.error = "the Wayland compositor did not answer";
            break;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
            result.error = "the Wayland connection broke";
            break;
        }
    }
    result.reachable = done;
    if (!done) {
        result.globals.clear();
    }
    wl_callback_destroy(sync);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return result;
}

}  // namespace velmarune
