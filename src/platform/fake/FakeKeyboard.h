#pragma once

#include <atomic>
#include <functional>

#include "platform/ModifierState.h"
#include "platform/PasteKeystroke.h"

namespace velmarune {

// Modifier keys the test holds down.
class FakeModifierState : public ModifierState {
  public:
    uint64_t combinedFlags() override { return flags.load(); }
    uint64_t hardwareFlags() override { return flags.load(); }
    std::atomic<uint64_t> flags{0};
};

// Counts paste keystrokes; `onPost` lets a test act as the focused window.
class FakePasteKeystroke : public PasteKeystroke {
  public:
    bool post(PasteChord chord) override {
        ++posts;
        lastChord = chord;
        if (onPost) {
            onPost();
        }
        return !failing;
    }
    int posts = 0;
    PasteChord lastChord = PasteChord::controlV;
    bool failing = false;
    std::function<void()> onPost;
};

}  // namespace velmarune
