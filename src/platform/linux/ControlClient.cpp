#include "platform/linux/ControlClient.h"

#include <systemd/sd-bus.h>

#include <cstring>

#include "platform/linux/SingleInstance.h"

namespace velmarune {

namespace {
// A key binding runs this on every press: a hung instance must not pile up
// processes for long.
constexpr uint64_t kCallTimeoutMicroseconds = 2'000'000;
}  // namespace

std::optional<std::string> sendControlRequest(const std::string& method) {
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_user(&bus); r < 0) {
        return "no session bus (" + std::string(std::strerror(-r)) +
               "); run it inside your desktop session, where Velmarune runs";
    }
    sd_bus_set_method_call_timeout(bus, kCallTimeoutMicroseconds);
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_message_new_method_call(bus, &call, kSingleInstanceBusName,
                                           kSingleInstanceObjectPath, kSingleInstanceInterface,
                                           method.c_str());
    if (r >= 0) {
        // Nothing may start Velmarune behind the user's back.
        sd_bus_message_set_auto_start(call, 0);
        r = sd_bus_call(bus, call, 0, &error, &reply);
    }
    std::optional<std::string> failure;
    if (r < 0) {
        if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN,
                                   SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
            failure = "Velmarune is not running (start it first, then try again)";
        } else if (sd_bus_error_has_name(&error, SD_BUS_ERROR_NO_REPLY) || r == -ETIMEDOUT) {
            failure = "Velmarune did not answer within 2 seconds";
        } else {
            failure = "Velmarune did not take the request: " +
                      std::string(error.message != nullptr ? error.message : std::strerror(-r));
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return failure;
}

}  // namespace velmarune
