#pragma once

#include <bitset>
#include <cstdint>
#include <map>
#include <vector>

namespace velmarune {

// What the keyboards hold, combined across every device, and what changed.
// Fed with the kernel's input events (type, code, value as in struct
// input_event) tagged by the device they came from. No threads, no I/O: the
// listener owns one and calls it from its own thread.
class EvdevKeyState {
  public:
    static constexpr int kKeyCount = 0x300;  // KEY_CNT

    struct Report {
        enum class Kind { flags, keyDown };
        Kind kind;
        uint64_t value;  // the combined flags, or the key's code

        bool operator==(const Report&) const = default;
    };
    using Reports = std::vector<Report>;

    // One event. Key repeats, buttons and non-key events change nothing; a
    // release of a key never seen going down is harmless. While events of a
    // device were dropped by the kernel (SYN_DROPPED up to the next
    // SYN_REPORT), that device's events are skipped; true at the SYN_REPORT
    // that ends the drop: the device's keys must be read back (resync).
    bool event(int device, uint16_t type, uint16_t code, int32_t value, Reports& out);
    // The keys the device really holds now (after a drop, at the unlock).
    // Keys that came down meanwhile count as held without a key-down report.
    void resync(int device, const std::bitset<kKeyCount>& held, Reports& out);
    // The device went away: its keys are up.
    void removeDevice(int device, Reports& out);
    // While the session is locked or another session has the seat, nothing
    // typed is ours to hear: every key counts as released and events are
    // ignored until it is active again.
    void setSessionActive(bool active, Reports& out);

    uint64_t flags() const { return m_flags; }
    bool sessionActive() const { return m_active; }

    // The stored flag a key code stands for (0 for a key that is no modifier).
    static uint64_t modifierFlag(uint16_t code);

  private:
    struct Device {
        std::bitset<kKeyCount> held;
        bool dropping = false;
    };
    void updateFlags(Reports& out);

    std::map<int, Device> m_devices;
    uint64_t m_flags = 0;
    bool m_active = true;
};

}  // namespace velmarune
