#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/FrontApplication.h"
#include "platform/wayland/FocusedWindow.h"

namespace velmarune {

class Logger;
class WaylandEventLoop;

// The focused window as a backend last heard it, kept for the questions.
class FocusRecord {
  public:
    // Backend's thread. Counts and tells a change only.
    void publish(std::optional<FocusedWindow> now);

    std::optional<std::string> identity();
    std::vector<std::string> names();
    uint64_t activations();
    void setOnActivation(std::function<void()> callback);

  private:
    std::mutex m_mutex;
    std::optional<FocusedWindow> m_focused;
    uint64_t m_activations = 0;
    std::function<void()> m_onActivation;
};

// A front application answered from a FocusRecord its backend keeps current.
class RecordedFrontApplication : public FrontApplication {
  public:
    std::optional<std::string> frontmost() override { return m_record->identity(); }
    std::vector<std::string> frontmostClassNames() override { return m_record->names(); }
    uint64_t activationCount() override { return m_record->activations(); }
    void setOnActivation(std::function<void()> callback) override {
        m_record->setOnActivation(std::move(callback));
    }

  protected:
    std::shared_ptr<FocusRecord> m_record = std::make_shared<FocusRecord>();
};

// A compositor's IPC socket at `path`, connected: its descriptor, or -1.
int connectUnixSocket(const std::string& path);

// Watches a compositor's IPC socket on `loop` (not started yet): `readable`
// runs on every wake and is false once the peer has gone, which `log` reports
// for `peer` ("sway"). Then, as when the compositor itself goes away, no
// window is in front.
void watchFocusSocket(WaylandEventLoop& loop, int fd, std::weak_ptr<FocusRecord> record,
                      std::function<bool()> readable, const Logger& log, const std::string& peer);

}  // namespace velmarune
