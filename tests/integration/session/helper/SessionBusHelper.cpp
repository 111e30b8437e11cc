// Stands in for logind, the screensavers and GNOME's display configuration on a
// private bus (DBUS_SESSION_BUS_ADDRESS): it owns their names, answers
// GetSession with the object path given on the command line, and emits their
// signals when asked through org.velmarune.SessionSignals on
// /org/velmarune/SessionSignals, so that the signals really come from the
// owner of each name. Each Emit method replies after its signal is sent.
//
//   session_bus_helper <session object path>
//
// From a shell: dbus-send --session --print-reply --dest=org.freedesktop.login1
//   /org/velmarune/SessionSignals org.velmarune.SessionSignals.PrepareForSleep boolean:true

#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const kNames[] = {
    "org.freedesktop.ScreenSaver",
    "org.gnome.ScreenSaver",
    "org.gnome.Mutter.DisplayConfig",
    // Last: owning it tells the test that every name is owned.
    "org.freedesktop.login1",
};

std::string g_sessionPath;

int getSession(sd_bus_message* call, void*, sd_bus_error*) {
    const char* id = nullptr;
    int r = sd_bus_message_read(call, "s", &id);
    if (r < 0) {
        return r;
    }
    return sd_bus_reply_method_return(call, "o", g_sessionPath.c_str());
}

int emitBoolOnLogin(sd_bus_message* call, const char* member) {
    int value = 0;
    int r = sd_bus_message_read(call, "b", &value);
    if (r < 0) {
        return r;
    }
    r = sd_bus_emit_signal(sd_bus_message_get_bus(call), "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", member, "b", value);
    return r < 0 ? r : sd_bus_reply_method_return(call, "");
}

int prepareForSleep(sd_bus_message* call, void*, sd_bus_error*) {
    return emitBoolOnLogin(call, "PrepareForSleep");
}

int prepareForShutdown(sd_bus_message* call, void*, sd_bus_error*) {
    return emitBoolOnLogin(call, "PrepareForShutdown");
}

int emitOnSession(sd_bus_message* call, const char* member) {
    const char* path = nullptr;
    int r = sd_bus_message_read(call, "o", &path);
    if (r < 0) {
        return r;
    }
    r = sd_bus_emit_signal(sd_bus_message_get_bus(call), path, "org.freedesktop.login1.Session",
                           member, "");
    return r < 0 ? r : sd_bus_reply_method_return(call, "");
}

int lock(sd_bus_message* call, void*, sd_bus_error*) {
    return emitOnSession(call, "Lock");
}

int unlock(sd_bus_message* call, void*, sd_bus_error*) {
    return emitOnSession(call, "Unlock");
}

// ActiveChanged(service, active): service is org.freedesktop.ScreenSaver or
// org.gnome.ScreenSaver; the path follows from it.
int activeChanged(sd_bus_message* call, void*, sd_bus_error*) {
    const char* service = nullptr;
    int active = 0;
    int r = sd_bus_message_read(call, "sb", &service, &active);
    if (r < 0) {
        return r;
    }
    std::string path = "/" + std::string(service);
    for (char& c : path) {
        if (c == '.') {
            c = '/';
        }
    }
    r = sd_bus_emit_signal(sd_bus_message_get_bus(call), path.c_str(), service, "ActiveChanged",
                           "b", active);
    return r < 0 ? r : sd_bus_reply_method_return(call, "");
}

// PowerSaveMode(mode): a PropertiesChanged of the display configuration.
int powerSaveMode(sd_bus_message* call, void*, sd_bus_error*) {
    int32_t mode = 0;
    int r = sd_bus_message_read(call, "i", &mode);
    if (r < 0) {
        return r;
    }
    sd_bus_message* signal = nullptr;
    r = sd_bus_message_new_signal(sd_bus_message_get_bus(call), &signal,
                                  "/org/gnome/Mutter/DisplayConfig",
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged");
    if (r >= 0) {
        r = sd_bus_message_append(signal, "sa{sv}as", "org.gnome.Mutter.DisplayConfig", 2,
                                  "ApplyMonitorsConfigAllowed", "b", 1, "PowerSaveMode", "i", mode,
                                  0);
    }
    if (r >= 0) {
        r = sd_bus_send(nullptr, signal, nullptr);
    }
    sd_bus_message_unref(signal);
    return r < 0 ? r : sd_bus_reply_method_return(call, "");
}

// SessionActive(path, active): a PropertiesChanged of a login session.
int sessionActive(sd_bus_message* call, void*, sd_bus_error*) {
    const char* path = nullptr;
    int active = 0;
    int r = sd_bus_message_read(call, "ob", &path, &active);
    if (r < 0) {
        return r;
    }
    sd_bus_message* signal = nullptr;
    r = sd_bus_message_new_signal(sd_bus_message_get_bus(call), &signal, path,
                                  "org.freedesktop.DBus.Properties", "PropertiesChanged");
    if (r >= 0) {
        r = sd_bus_message_append(signal, "sa{sv}as", "org.freedesktop.login1.Session", 2, "Type",
                                  "s", "wayland", "Active", "b", active, 0);
    }
    if (r >= 0) {
        r = sd_bus_send(nullptr, signal, nullptr);
    }
    sd_bus_message_unref(signal);
    return r < 0 ? r : sd_bus_reply_method_return(call, "");
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("GetSession", "s", "o", getSession, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

const sd_bus_vtable kControl[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("PrepareForSleep", "b", "", prepareForSleep, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PrepareForShutdown", "b", "", prepareForShutdown, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Lock", "o", "", lock, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Unlock", "o", "", unlock, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ActiveChanged", "sb", "", activeChanged, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PowerSaveMode", "i", "", powerSaveMode, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SessionActive", "ob", "", sessionActive, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

int fail(const char* what, int r) {
    std::fprintf(stderr, "session_bus_helper: %s: %s\n", what, std::strerror(-r));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session_bus_helper <session object path>\n");
        return 2;
    }
    g_sessionPath = argv[1];

    sd_bus* bus = nullptr;
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
        return fail("connect", r);
    }
    r = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", kManager, nullptr);
    if (r < 0) {
        return fail("export manager", r);
    }
    r = sd_bus_add_object_vtable(bus, nullptr, "/org/velmarune/SessionSignals",
                                 "org.velmarune.SessionSignals", kControl, nullptr);
    if (r < 0) {
        return fail("export control", r);
    }
    for (const char* name : kNames) {
        r = sd_bus_request_name(bus, name, 0);
        if (r < 0) {
            return fail(name, r);
        }
    }
    // Runs until the test stops it with SIGTERM.
    for (;;) {
        r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            return fail("process", r);
        }
        if (r == 0) {
            r = sd_bus_wait(bus, UINT64_MAX);
            if (r < 0) {
                return fail("wait", r);
            }
        }
    }
}
