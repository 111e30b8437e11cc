#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/FrontApplication.h"

struct xcb_connection_t;

namespace velmarune {

// The active window's WM_CLASS class and _NET_WM_PID, watched through
// _NET_ACTIVE_WINDOW on a connection and thread of its own.
class X11FrontApplication : public FrontApplication {
  public:
    ~X11FrontApplication() override;
    bool start(const std::string& display, std::string* error = nullptr);
    void stop();

    std::optional<std::string> frontmost() override;
    void setOnActivation(std::function<void()> callback) override;

  private:
    void watch();

    std::mutex m_mutex;
    xcb_connection_t* m_conn = nullptr;
    xcb_connection_t* m_watchConn = nullptr;
    uint32_t m_root = 0;
    std::function<void()> m_onActivation;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

}  // namespace velmarune
