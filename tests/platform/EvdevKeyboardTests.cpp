#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "keys/ModifierCombo.h"
#include "platform/evdev/EvdevKeyState.h"
#include "platform/evdev/EvdevKeyboardMonitor.h"
#include "platform/evdev/SystemInputDevices.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using Report = EvdevKeyState::Report;
using Reports = EvdevKeyState::Reports;
constexpr uint64_t kCtrl = kModifierControl;
constexpr uint64_t kShift = kModifierShift;
constexpr uint64_t kSuper = kModifierCommand;

Report flags(uint64_t value) {
    return {Report::Kind::flags, value};
}
Report key(uint64_t code) {
    return {Report::Kind::keyDown, code};
}

// One step of a recorded session: an event of a device, or something that
// happens to the devices or the session.
struct Step {
    enum class Kind { event, unplug, lock, unlock } kind = Kind::event;
    int device = 0;
    uint16_t type = EV_KEY;
    uint16_t code = 0;
    int32_t value = 0;
};
Step down(int device, uint16_t code) {
    return {Step::Kind::event, device, EV_KEY, code, 1};
}
Step up(int device, uint16_t code) {
    return {Step::Kind::event, device, EV_KEY, code, 0};
}
Step syn(int device, uint16_t code) {
    return {Step::Kind::event, device, EV_SYN, code, 0};
}

TEST(EvdevKeyState, RecordedSequencesGiveTheChordAcrossKeyboards) {
    const int laptop = 3, usb = 4, remapper = 5;
    struct Case {
        const char* name;
        std::vector<Step> steps;
        Reports reports;
    };
    const Case cases[] = {
        {"two keyboards make one chord; a key up on one leaves the other's held",
         {down(laptop, KEY_LEFTCTRL), down(usb, KEY_RIGHTSHIFT), up(laptop, KEY_LEFTCTRL),
          up(usb, KEY_RIGHTSHIFT)},
         {flags(kCtrl), flags(kCtrl | kShift), flags(kShift), flags(0)}},
        {"the same modifier on both: up only when both are up",
         {down(laptop, KEY_LEFTCTRL), down(usb, KEY_LEFTCTRL), up(laptop, KEY_LEFTCTRL),
          up(usb, KEY_LEFTCTRL)},
         {flags(kCtrl), flags(0)}},
        {"a remapper's virtual keyboard (Caps Lock made Super) counts like any other",
         {down(remapper, KEY_LEFTMETA), down(laptop, KEY_LEFTCTRL), down(laptop, KEY_V),
          up(remapper, KEY_LEFTMETA)},
         {flags(kSuper), flags(kSuper | kCtrl), key(KEY_V), flags(kCtrl)}},
        {"a keyboard unplugged mid-chord releases its keys",
         {down(usb, KEY_LEFTCTRL),
          down(usb, KEY_LEFTSHIFT),
          down(laptop, KEY_LEFTALT),
          {Step::Kind::unplug, usb}},
         {flags(kCtrl), flags(kCtrl | kShift), flags(kCtrl | kShift | kModifierOption),
          flags(kModifierOption)}},
        {"a lock mid-hold releases everything and hears nothing until the unlock",
         {down(laptop, KEY_LEFTCTRL),
          down(laptop, KEY_LEFTSHIFT),
          {Step::Kind::lock},
          up(laptop, KEY_LEFTSHIFT),
          down(laptop, KEY_P),
          down(laptop, KEY_LEFTSHIFT),
          {Step::Kind::unlock},
          down(laptop, KEY_LEFTSHIFT),
          down(laptop, KEY_A)},
         {flags(kCtrl), flags(kCtrl | kShift), flags(0), flags(kShift), key(KEY_A)}},
        {"repeats, buttons, stray releases and double presses report nothing",
         {up(laptop, KEY_LEFTCTRL),
          down(laptop, KEY_B),
          {Step::Kind::event, laptop, EV_KEY, KEY_B, 2},
          down(laptop, KEY_B),
          down(laptop, BTN_LEFT),
          {Step::Kind::event, laptop, EV_REL, 0, 5}},
         {key(KEY_B)}},
        {"events the kernel dropped are skipped up to the next report",
         {down(laptop, KEY_LEFTCTRL), syn(laptop, SYN_DROPPED), up(laptop, KEY_LEFTCTRL),
          down(laptop, KEY_X), syn(laptop, SYN_REPORT), down(laptop, KEY_Y)},
         {flags(kCtrl), flags(0), key(KEY_Y)}},
    };
    for (const Case& c : cases) {
        EvdevKeyState state;
        Reports reports;
        for (const Step& step : c.steps) {
            switch (step.kind) {
                case Step::Kind::event:
                    // The listener reads the device back where a drop ends;
                    // here nothing is down any more.
                    if (state.event(step.device, step.type, step.code, step.value, reports)) {
                        state.resync(step.device, {}, reports);
                    }
                    break;
                case Step::Kind::unplug:
                    state.removeDevice(step.device, reports);
                    break;
                case Step::Kind::lock:
                case Step::Kind::unlock:
                    state.setSessionActive(step.kind == Step::Kind::unlock, reports);
                    break;
            }
        }
        EXPECT_EQ(reports, c.reports) << c.name;
    }
}

// Keyboards as pipes fed with recorded struct input_event records, one more
// announced through the changes descriptor.
class PipeDevices : public InputDeviceSource {
  public:
    explicit PipeDevices(int count) {
        for (int i = 0; i < count; ++i) {
            writers.push_back(makePipe());
        }
    }
    ~PipeDevices() override {
        for (int fd : writers) {
            if (fd >= 0)
                ::close(fd);
        }
        ::close(changes);
    }
    std::vector<InputDevice> openKeyboards(std::string&) override {
        auto initial = std::move(readers);
        readers.clear();
        return initial;
    }
    int changesFd() override { return changes; }
    std::vector<InputDevice> takeAdded() override {
        uint64_t value = 0;
        [[maybe_unused]] ssize_t n = ::read(changes, &value, sizeof value);
        std::lock_guard lock(mutex);
        return std::move(readers);
    }
    // A keyboard plugged in while listening; returns its writing end.
    int plugIn() {
        std::lock_guard lock(mutex);
        const int writer = makePipe();
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(changes, &one, sizeof one);
        return writer;
    }
    void send(int writer, std::vector<Step> steps) {
        std::vector<input_event> records;
        for (const Step& step : steps) {
            records.push_back({{}, step.type, step.code, step.value});
            records.push_back({{}, EV_SYN, SYN_REPORT, 0});
        }
        // The listener drains the pipe meanwhile; each wait for room is bounded.
        const char* bytes = reinterpret_cast<const char*>(records.data());
        size_t left = records.size() * sizeof(input_event);
        while (left > 0) {
            const ssize_t n = ::write(writer, bytes, left);
            if (n < 0) {
                pollfd entry{writer, POLLOUT, 0};
                ASSERT_EQ(errno, EAGAIN);
                ASSERT_EQ(::poll(&entry, 1, 5000), 1);
                continue;
            }
            bytes += n;
            left -= static_cast<size_t>(n);
        }
    }

    std::vector<int> writers;

  private:
    int makePipe() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        readers.push_back({ends[0], "pipe", "pipe"});
        return ends[1];
    }
    std::mutex mutex;
    std::vector<InputDevice> readers;
    int changes = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

// What the listener reported, waited for with a bound.
struct Heard {
    std::mutex mutex;
    std::condition_variable changed;
    Reports reports;

    KeyboardMonitor::Handlers handlers() {
        return {[this](uint64_t f) { add(flags(f)); },
                [this](int64_t code) { add(key(static_cast<uint64_t>(code))); }};
    }
    void add(Report report) {
        std::lock_guard lock(mutex);
        reports.push_back(report);
        changed.notify_all();
    }
    bool waitFor(const Report& last) {
        return waitUntil([&] { return !reports.empty() && reports.back() == last; });
    }
    bool waitUntil(const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), done);
    }
    Reports flagReports() {
        Reports chord;
        for (const Report& report : reports) {
            if (report.kind == Report::Kind::flags)
                chord.push_back(report);
        }
        return chord;
    }
};

TEST(EvdevKeyboardMonitor, HearsKeyboardsPluggedInLaterAndForgetsUnpluggedOnes) {
    auto source = std::make_unique<PipeDevices>(1);
    PipeDevices& devices = *source;
    EvdevKeyboardMonitor monitor(std::move(source));
    Heard heard;
    ASSERT_TRUE(monitor.start(heard.handlers()));

    devices.send(devices.writers[0], {down(0, KEY_LEFTCTRL)});
    ASSERT_TRUE(heard.waitFor(flags(kCtrl)));
    const int usb = devices.plugIn();
    devices.send(usb, {down(0, KEY_LEFTSHIFT)});
    ASSERT_TRUE(heard.waitFor(flags(kCtrl | kShift)));
    EXPECT_EQ(monitor.combinedFlags(), kCtrl | kShift);

    // Unplugged mid-chord: the first keyboard's Control goes with it.
    ::close(devices.writers[0]);
    devices.writers[0] = -1;
    ASSERT_TRUE(heard.waitFor(flags(kShift)));

    monitor.setSessionActive(false);
    ASSERT_TRUE(heard.waitFor(flags(0)));
    monitor.setSessionActive(true);
    devices.send(usb, {down(0, KEY_Q)});
    ASSERT_TRUE(heard.waitFor(key(KEY_Q)));
    monitor.stop();
    EXPECT_EQ(heard.reports,
              (Reports{flags(kCtrl), flags(kCtrl | kShift), flags(kShift), flags(0), key(KEY_Q)}));
}

TEST(EvdevKeyboardMonitor, AFloodingDeviceNeitherStarvesTheChordNorFloodsTheListener) {
    auto source = std::make_unique<PipeDevices>(2);
    PipeDevices& devices = *source;
    EvdevKeyboardMonitor monitor(std::move(source));
    Heard heard;
    ASSERT_TRUE(monitor.start(heard.handlers()));

    // A stuck device typing a letter as fast as it can, a record split
    // across writes among it, while the chord is held on the other.
    std::vector<Step> flood;
    for (int i = 0; i < 600; ++i) {
        flood.push_back(down(0, KEY_J));
        flood.push_back(up(0, KEY_J));
    }
    for (int round = 0; round < 5; ++round) {
        devices.send(devices.writers[0], flood);
        devices.send(devices.writers[1], {down(1, round % 2 ? KEY_LEFTSHIFT : KEY_LEFTCTRL)});
    }
    const input_event half{{}, EV_KEY, KEY_LEFTSHIFT, 0};
    ASSERT_EQ(::write(devices.writers[1], &half, 10), 10);
    ASSERT_EQ(
        ::write(devices.writers[1], reinterpret_cast<const char*>(&half) + 10, sizeof half - 10),
        static_cast<ssize_t>(sizeof half - 10));
    const Reports chord{flags(kCtrl), flags(kCtrl | kShift), flags(kCtrl)};
    EXPECT_TRUE(heard.waitUntil([&] { return heard.flagReports() == chord; }));
    monitor.stop();
    const size_t keys = heard.reports.size() - heard.flagReports().size();
    // 3 000 presses (12 000 records with their reports) arrive in reads of at
    // most 64 records, each posting at most one key: far fewer than 3 000.
    EXPECT_LE(keys, 12000u / 64 + 10);
}

TEST(SystemInputDevices, AFolderWithoutDevicesOrWithUnreadableOnesExplainsWhatToDo) {
    testing::TempDir dir{"velmarune-input"};
    std::string problem;
    EXPECT_TRUE(SystemInputDevices(dir.path()).openKeyboards(problem).empty());
    EXPECT_NE(problem.find("finds no input devices in " + dir.path().string()), std::string::npos)
        << problem;

    // A recorded stream in an injected folder is one keyboard.
    ASSERT_EQ(::mkfifo((dir.path() / "event7").c_str(), 0600), 0);
    const int keepOpen = ::open((dir.path() / "event7").c_str(), O_RDWR | O_CLOEXEC);
    problem.clear();
    auto keyboards = SystemInputDevices(dir.path()).openKeyboards(problem);
    ASSERT_EQ(keyboards.size(), 1u);
    EXPECT_EQ(problem, "");
    ::close(keyboards[0].fd);
    ::close(keepOpen);

    const std::string text = SystemInputDevices::accessProblem("input");
    for (const char* part :
         {"sudo usermod -aG input $USER", "passwords included", "velmarune ptt press"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }
}

}  // namespace
}  // namespace velmarune
