#pragma once

#include <memory>
#include <string>

#include "platform/PasteKeystroke.h"

namespace velmarune {

class WaylandEventLoop;

// The paste keystroke through a virtual keyboard (zwp_virtual_keyboard_v1)
// that carries a keymap of our own: a plain US layout, so the user's layout
// (Hebrew, Russian, Dvorak) cannot turn the V key into another letter. On
// the clipboard's event loop the keys follow every clipboard write made before.
class WaylandKeyboard : public PasteKeystroke {
  public:
    WaylandKeyboard();
    ~WaylandKeyboard() override;
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    // On a connected loop that has not started yet; its owner starts it.
    // False, with the reason, when the compositor offers no virtual keyboard.
    bool attach(std::shared_ptr<WaylandEventLoop> loop, std::string* error = nullptr);

    bool post(PasteChord chord) override;

    struct State;

  private:
    // The loop outlives the protocol objects made on its connection.
    std::shared_ptr<WaylandEventLoop> m_loop;
    std::shared_ptr<State> m_state;
};

}  // namespace velmarune
