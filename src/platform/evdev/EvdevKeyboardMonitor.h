#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/KeyboardMonitor.h"
#include "platform/ModifierState.h"
#include "platform/evdev/EvdevKeyState.h"
#include "platform/evdev/InputDeviceSource.h"

namespace velmarune {

// Listens to every keyboard's evdev events on a thread of its own, for
// desktops where no display server tells us the keys (Wayland). It only
// reads: nothing is grabbed, so every key still reaches the compositor as if
// we were not there. Modifier state is combined across keyboards, so a
// remapper's virtual keyboard and the real one make one chord. Keyboards
// plugged in later are picked up; one unplugged mid-chord counts as released.
// The thread sleeps in epoll until a device, the device source or stop()
// wakes it.
class EvdevKeyboardMonitor : public KeyboardMonitor, public ModifierState {
  public:
    explicit EvdevKeyboardMonitor(std::unique_ptr<InputDeviceSource> source);
    ~EvdevKeyboardMonitor() override;
    EvdevKeyboardMonitor(const EvdevKeyboardMonitor&) = delete;
    EvdevKeyboardMonitor& operator=(const EvdevKeyboardMonitor&) = delete;

    // False when no keyboard can be read (see problem()).
    bool start(Handlers handlers) override;
    void stop() override;

    // Any thread. While the session is locked or inactive nothing typed is
    // ours to hear: the keys count as released until it is active again.
    void setSessionActive(bool active);

    // Why keyboards cannot be read, in plain words, with the fix; empty when
    // they can. Set by start().
    std::string problem() const;

    // Any thread: the modifiers the keyboards hold together.
    uint64_t combinedFlags() override { return m_flags.load(); }
    uint64_t hardwareFlags() override { return m_flags.load(); }

  private:
    struct Open {
        InputDevice device;
        std::string partial;  // the start of a record a short read split
    };
    void run(Handlers handlers);
    void add(InputDevice device);
    void remove(int fd, EvdevKeyState::Reports& reports);
    void readDevice(int fd, EvdevKeyState::Reports& reports);
    void resync(int fd, EvdevKeyState::Reports& reports);
    void deliver(const Handlers& handlers, const EvdevKeyState::Reports& reports);

    std::unique_ptr<InputDeviceSource> m_source;
    mutable std::mutex m_problemMutex;
    std::string m_problem;
    std::thread m_thread;
    int m_epollFD = -1;
    int m_wakeFD = -1;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_sessionActive{true};
    std::atomic<uint64_t> m_flags{0};

    // The listening thread's own (before it starts, start()'s).
    std::map<int, Open> m_devices;
    EvdevKeyState m_state;
};

}  // namespace velmarune
