#include "platform/evdev/SystemInputDevices.h"

#include <fcntl.h>
#include <grp.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger kLog{"KeyboardMonitor"};

// A keyboard types letters or holds modifiers; a remapper's virtual device
// may declare only what it remaps, so either is enough.
bool looksLikeKeyboard(const libevdev* device) {
    if (!libevdev_has_event_type(device, EV_KEY)) {
        return false;
    }
    for (unsigned code : {KEY_A, KEY_Z, KEY_SPACE, KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_LEFTALT,
                          KEY_LEFTMETA, KEY_RIGHTCTRL, KEY_RIGHTSHIFT, KEY_RIGHTMETA}) {
        if (libevdev_has_event_code(device, EV_KEY, code)) {
            return true;
        }
    }
    return false;
}

bool isEventNode(const std::filesystem::path& path) {
    return path.filename().string().rfind("event", 0) == 0;
}
}  // namespace

SystemInputDevices::SystemInputDevices(std::filesystem::path folder)
    : m_folder(std::move(folder)) {}

SystemInputDevices::~SystemInputDevices() {
    if (m_monitor != nullptr) {
        udev_monitor_unref(m_monitor);
    }
    if (m_udev != nullptr) {
        udev_unref(m_udev);
    }
}

std::string SystemInputDevices::accessProblem(const std::string& group) {
    return "Velmarune cannot read the keyboards: their devices in /dev/input may be read only "
           "by root and the \"" +
           group +
           "\" group. To let it hear the push-to-talk chord in this Wayland session, add "
           "yourself to that group (sudo usermod -aG " +
           group +
           " $USER) and log in again. Know what that grants: every program you run can then "
           "read every key you type, passwords included. If you would rather not, bind "
           "\"velmarune ptt press\" and \"velmarune ptt release\" to a key in your compositor "
           "instead (velmarune ptt --help shows how).";
}

SystemInputDevices::Opened SystemInputDevices::open(const std::filesystem::path& node,
                                                    InputDevice& device) {
    // A recorded stream in a FIFO is opened for writing too, so that it does
    // not end whenever its writer closes it.
    struct stat info {};
    const bool fifo = ::stat(node.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
    const int fd =
        ::open(node.c_str(), (fifo ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return errno == EACCES || errno == EPERM ? Opened::denied : Opened::failed;
    }
    libevdev* evdev = nullptr;
    if (libevdev_new_from_fd(fd, &evdev) < 0) {
        // Not an evdev node: a recorded stream, which only an injected folder holds.
        if (node.parent_path() != kSystemFolder) {
            device = {fd, node.filename().string(), node.string()};
            return Opened::keyboard;
        }
        ::close(fd);
        return Opened::notKeyboard;
    }
    const bool keyboard = looksLikeKeyboard(evdev);
    device = {fd, libevdev_get_name(evdev) ? libevdev_get_name(evdev) : "?", node.string()};
    libevdev_free(evdev);  // leaves the descriptor open
    if (!keyboard) {
        ::close(fd);
        return Opened::notKeyboard;
    }
    return Opened::keyboard;
}

std::vector<InputDevice> SystemInputDevices::openKeyboards(std::string& problem) {
    std::vector<InputDevice> keyboards;
    std::error_code error;
    size_t denied = 0;
    std::string deniedGroup = "input";
    bool anyNode = false;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder, error)) {
        if (!isEventNode(entry.path())) {
            continue;
        }
        anyNode = true;
        InputDevice device;
        switch (open(entry.path(), device)) {
            case Opened::keyboard:
                keyboards.push_back(std::move(device));
                break;
            case Opened::denied: {
                ++denied;
                struct stat info {};
                if (::stat(entry.path().c_str(), &info) == 0 && info.st_gid != 0) {
                    if (const group* owner = ::getgrgid(info.st_gid)) {
                        deniedGroup = owner->gr_name;
                    }
                }
                break;
            }
            case Opened::notKeyboard:
            case Opened::failed:
                break;
        }
    }
    if (!anyNode) {
        problem = "Velmarune finds no input devices in " + m_folder.string() +
                  " to hear the push-to-talk chord from. Bind \"velmarune ptt press\" and "
                  "\"velmarune ptt release\" to a key in your compositor instead (velmarune ptt "
                  "--help shows how).";
    } else if (keyboards.empty() && denied > 0) {
        problem = accessProblem(deniedGroup);
    }
    return keyboards;
}

int SystemInputDevices::changesFd() {
    // Made on the listener's first ask, so that a look at which keyboards can
    // be read (the start-up probe) subscribes to nothing it throws away.
    if (m_folder == kSystemFolder && m_monitor == nullptr) {
        m_udev = m_udev != nullptr ? m_udev : udev_new();
        m_monitor = m_udev ? udev_monitor_new_from_netlink(m_udev, "udev") : nullptr;
        if (m_monitor == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "input", nullptr) < 0 ||
            udev_monitor_enable_receiving(m_monitor) < 0) {
            kLog.error("no udev monitor: keyboards plugged in later are not heard until restart");
            if (m_monitor != nullptr) {
                m_monitor = udev_monitor_unref(m_monitor);
            }
        }
    }
    return m_monitor != nullptr ? udev_monitor_get_fd(m_monitor) : -1;
}

std::vector<InputDevice> SystemInputDevices::takeAdded() {
    std::vector<InputDevice> added;
    while (udev_device* device = m_monitor ? udev_monitor_receive_device(m_monitor) : nullptr) {
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        if (action != nullptr && node != nullptr && std::strcmp(action, "add") == 0 &&
            isEventNode(node)) {
            InputDevice keyboard;
            const Opened opened = open(node, keyboard);
            if (opened == Opened::keyboard) {
                added.push_back(std::move(keyboard));
            } else if (opened == Opened::denied) {
                kLog.error("cannot read the new input device %{public}s: permission denied",
                           std::string(node));
            }
        }
        udev_device_unref(device);
    }
    return added;
}

}  // namespace velmarune
