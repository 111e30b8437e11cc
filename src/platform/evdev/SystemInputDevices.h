#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/evdev/InputDeviceSource.h"

struct udev;
struct udev_monitor;

namespace velmarune {

// The keyboards among the event devices of a folder (/dev/input), with new
// ones announced by udev. Any device that reports letter or modifier keys
// counts, virtual ones made by remappers included. Devices are opened
// read-only and never grabbed.
//
// Another folder may hold recorded streams of struct input_event (a FIFO or
// a socket named event*): each is listened to as one keyboard. That folder
// gets no hot-plug.
class SystemInputDevices : public InputDeviceSource {
  public:
    static constexpr const char* kSystemFolder = "/dev/input";

    explicit SystemInputDevices(std::filesystem::path folder = kSystemFolder);
    ~SystemInputDevices() override;
    SystemInputDevices(const SystemInputDevices&) = delete;
    SystemInputDevices& operator=(const SystemInputDevices&) = delete;

    std::vector<InputDevice> openKeyboards(std::string& problem) override;
    int changesFd() override;
    std::vector<InputDevice> takeAdded() override;

    // The explanation given when keyboards exist but none may be read:
    // which group grants it, how to join, and what joining means.
    static std::string accessProblem(const std::string& group);

  private:
    enum class Opened { keyboard, notKeyboard, denied, failed };
    Opened open(const std::filesystem::path& node, InputDevice& device);

    std::filesystem::path m_folder;
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
};

}  // namespace velmarune
