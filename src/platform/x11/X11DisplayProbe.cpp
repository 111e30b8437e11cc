#include "platform/x11/X11DisplayProbe.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace velmarune {

X11DisplayCapabilities probeX11Display(const std::string& display) {
    X11DisplayCapabilities capabilities;
    xcb_connection_t* connection =
        xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return capabilities;
    }
    capabilities.reachable = true;
    const auto* xinput = xcb_get_extension_data(connection, &xcb_input_id);
    if (xinput && xinput->present) {
        // The same version question the keyboard listener asks.
        auto* version = xcb_input_xi_query_version_reply(
            connection, xcb_input_xi_query_version(connection, 2, 2), nullptr);
        capabilities.inputListener = version && version->major_version >= 2;
        std::free(version);
    }
    const auto* xtest = xcb_get_extension_data(connection, &xcb_test_id);
    capabilities.pasteKeystroke = xtest && xtest->present;
    xcb_disconnect(connection);
    return capabilities;
}

}  // namespace velmarune
