#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ModifierState.h"
#include "platform/PasteKeystroke.h"

struct xcb_connection_t;

namespace velmarune {

// Control+V through XTest, or Control+Shift+V when the focused window's class
// is a terminal's. Each keystroke carries exactly its own modifiers' events.
class X11PasteKeystroke : public PasteKeystroke {
  public:
    // `terminalClasses` is read at each keystroke (the "terminalPasteClasses"
    // setting); without it every window gets Control+V.
    explicit X11PasteKeystroke(std::function<std::vector<std::string>()> terminalClasses);
    ~X11PasteKeystroke() override;
    bool start(const std::string& display, std::string* error = nullptr);
    bool post() override;

  private:
    bool focusedIsTerminal();
    // The Latin group to lock while posting, when the active one has no V.
    std::optional<uint8_t> latinGroupToLock(uint8_t vKeycode);

    std::function<std::vector<std::string>()> m_terminalClasses;
    std::mutex m_mutex;
    xcb_connection_t* m_conn = nullptr;
    bool m_xkb = false;
};

// XKB's modifier state in the stored flag layout.
class X11ModifierState : public ModifierState {
  public:
    ~X11ModifierState() override;
    bool start(const std::string& display, std::string* error = nullptr);
    uint64_t combinedFlags() override;
    uint64_t hardwareFlags() override;

  private:
    std::mutex m_mutex;
    xcb_connection_t* m_conn = nullptr;
};

}  // namespace velmarune
