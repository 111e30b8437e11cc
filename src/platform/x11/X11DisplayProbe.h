#pragma once

#include <string>

namespace velmarune {

// What an X server offers the push-to-talk path, found on a short-lived
// connection of its own.
struct X11DisplayCapabilities {
    bool reachable = false;       // a connection to the display succeeded
    bool inputListener = false;   // XInput 2: raw key events without a grab
    bool pasteKeystroke = false;  // XTEST: the synthetic paste chord
};

// `display` empty: $DISPLAY. Never blocks beyond the connection attempt.
X11DisplayCapabilities probeX11Display(const std::string& display = {});

}  // namespace velmarune
