#pragma once

#include <memory>
#include <string>

#include "platform/ModifierState.h"
#include "platform/PasteKeystroke.h"

namespace velmarune {

class X11EventLoop;
class X11Keymap;

// The keyboard as the application's output sees it, on one X connection:
// the modifier state kept current from XKB state events (answered from
// memory), one keymap reloaded when the server's mapping changes, and the
// paste chord typed through XTest. Sharing the clipboard's event loop puts
// every keystroke after the clipboard writes made before it.
class X11Keyboard : public ModifierState, public PasteKeystroke {
  public:
    X11Keyboard();
    ~X11Keyboard() override;
    X11Keyboard(const X11Keyboard&) = delete;
    X11Keyboard& operator=(const X11Keyboard&) = delete;

    // On an event loop of its own.
    bool start(const std::string& display, std::string* error = nullptr);
    // On a connected loop that has not started yet; its owner starts it.
    bool attach(std::shared_ptr<X11EventLoop> loop, std::string* error = nullptr);
    void stop();

    uint64_t combinedFlags() override;
    uint64_t hardwareFlags() override;
    bool post(PasteChord chord) override;
    // The keymap this keeps current for other handlers on its loop: read it
    // on the loop thread only.
    std::shared_ptr<const X11Keymap> keymap() const;

    struct State;

  private:
    std::shared_ptr<State> m_state;
    std::shared_ptr<X11EventLoop> m_loop;
    bool m_ownLoop = false;
};

}  // namespace velmarune
