#pragma once

#include <memory>
#include <string>

#include "platform/FrontApplication.h"

namespace velmarune {

class X11EventLoop;

// The active window's WM_CLASS and _NET_WM_PID, read when _NET_ACTIVE_WINDOW
// changes and kept for the questions.
class X11FrontApplication : public FrontApplication {
  public:
    X11FrontApplication();
    ~X11FrontApplication() override;
    X11FrontApplication(const X11FrontApplication&) = delete;
    X11FrontApplication& operator=(const X11FrontApplication&) = delete;

    // On an event loop of its own.
    bool start(const std::string& display, std::string* error = nullptr);
    // On a connected loop that has not started yet; its owner starts it.
    bool attach(std::shared_ptr<X11EventLoop> loop, std::string* error = nullptr);
    void stop();

    std::optional<std::string> frontmost() override;
    std::vector<std::string> frontmostClassNames() override;
    uint64_t activationCount() override;
    void setOnActivation(std::function<void()> callback) override;

    struct State;

  private:
    std::shared_ptr<State> m_state;
    std::shared_ptr<X11EventLoop> m_loop;
    bool m_ownLoop = false;
};

}  // namespace velmarune
