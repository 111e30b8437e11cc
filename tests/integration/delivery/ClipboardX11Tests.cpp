#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <tuple>

#include "X11TestClients.h"
#include "delivery/ClipboardPaster.h"
#include "platform/x11/X11EventLoop.h"
#include "platform/x11/X11FrontApplication.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Pasteboard.h"
#include "support/BackendPaster.h"
#include "support/Process.h"
#include "support/XRig.h"

namespace velmarune::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Standard output of a shell command.
std::string output(const std::string& command) {
    return runCommand({"sh", "-c", command + " 2>/dev/null"}).output;
}

// The clipboard owned by xclip, as a user's copy from another application.
ChildProcess xclipOwner(const TempDir& dir, const std::string& data,
                        const std::string& type = "UTF8_STRING") {
    const auto file = dir / ("copy-" + std::to_string(std::hash<std::string>{}(data)));
    writeFile(file, data);
    return ChildProcess(
        {"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", file.string()});
}

// The clipboard, keyboard and front window on one shared connection, as the
// application wires them.
struct X11PasteRig : BackendPaster {
    // A window manager only where a window must get the focus.
    explicit X11PasteRig(bool windowManager = true) : x(XRig::Options{windowManager}) {}

    XRig x;
    TempDir dir{"velmarune-delivery"};
    std::shared_ptr<X11EventLoop> loop = std::make_shared<X11EventLoop>();
    X11Pasteboard pasteboard;
    X11Keyboard keyboard;
    X11FrontApplication front;

    bool start() {
        if (!x.ok() || !requireProgram("xclip", "xclip")) {
            return false;
        }
        std::string error;
        if (!loop->connect("", &error) || !pasteboard.attach(loop, "", &error) ||
            !keyboard.attach(loop, &error) || !front.attach(loop, &error)) {
            ADD_FAILURE() << error;
            return false;
        }
        loop->start();
        startPaster(pasteboard, keyboard, front);
        return true;
    }
    ~X11PasteRig() {
        stopPaster();
        loop->stop();
    }
    bool countReaches(int64_t count) {
        return waitUntil([&] { return pasteboard.changeCount() >= count; }, 5.0);
    }
};

// The application that owned the user's copy quits during the dictation:
// its going away is no new copy, and the snapshot taken at key-down (now the
// only copy left) is what comes back.
TEST(ClipboardX11, PastesIntoTheFocusedWindowAndPutsThePreviousCopyBackAfterItsOwnerQuit) {
    X11PasteRig rig;
    ASSERT_TRUE(rig.start());
    auto previous = xclipOwner(rig.dir, "previous copy");
    ASSERT_TRUE(rig.countReaches(1));
    PasteTarget target("Target");
    ASSERT_TRUE(target.waitUntilActive(5.0));

    rig.paster->prepare();
    rig.queue.sync([] {});  // the key-down snapshot is taken
    previous.stop();
    ASSERT_TRUE(waitUntil([] { return output("xclip -o -selection clipboard").empty(); }, 5.0));
    EXPECT_EQ(rig.pasteboard.changeCount(), 1);
    rig.insert("שלום, hello");
    rig.clock.advance(0.03);
    EXPECT_EQ(target.waitForPaste(5.0), "שלום, hello");
    EXPECT_FALSE(target.lastPasteHadShift());
    ASSERT_TRUE(rig.pump([&] { return rig.reads->firstReads == 1; }));

    // Clipboard managers are told to skip our item.
    const auto targets = output("xclip -o -selection clipboard -t TARGETS");
    EXPECT_NE(targets.find("org.nspasteboard.TransientType"), std::string::npos) << targets;
    EXPECT_EQ(output("xclip -o -selection clipboard -t x-kde-passwordManagerHint"), "secret");

    rig.clock.advance(1.0);
    EXPECT_EQ(output("xclip -o -selection clipboard"), "previous copy");
    EXPECT_EQ(output("xsel -b -o </dev/null"), "previous copy");
    EXPECT_EQ(rig.reads->noReads, 0);
}

TEST(ClipboardX11, ALargeImageGoesBothWaysInChunks) {
    X11PasteRig rig(false);
    ASSERT_TRUE(rig.start());
    std::string image(6 * 1024 * 1024, '\0');
    std::mt19937 random(7);
    for (auto& byte : image) byte = static_cast<char>(random());
    auto previous = xclipOwner(rig.dir, image, "image/png");
    ASSERT_TRUE(rig.countReaches(1));
    rig.paster->prepare();
    // A dictation lasts longer than this transfer; on a busy machine it can
    // outlast the paste's short snapshot wait, so let the key-down copy finish.
    rig.queue.sync([] {});
    rig.insert("caption");
    rig.clock.advance(10);
    // The restore takes the clipboard on the X thread, a moment after the timer.
    std::string restored;
    waitUntil(
        [&] {
            restored = output("xclip -o -selection clipboard -t image/png");
            return !restored.empty();
        },
        5.0);
    EXPECT_EQ(restored.size(), image.size());
    EXPECT_TRUE(restored == image);
}

// The chord follows the front window's class (terminals get Control+Shift+V)
// and is typed as a Latin V while a Hebrew layout is active.
TEST(ClipboardX11, TheChordFollowsTheWindowClassAndIsTypedInTheLatinGroup) {
    X11PasteRig rig;
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(requireProgram("setxkbmap", "x11-xkb-utils"));
    ASSERT_EQ(std::system("setxkbmap -layout us,il"), 0);
    std::atomic<int> activations{0};
    rig.front.setOnActivation([&] { ++activations; });
    for (const auto& [wmClass, shift, group] : std::vector<std::tuple<std::string, bool, int>>{
             {"Gedit", false, 1}, {"XTerm", true, 1}, {"Gedit", false, 0}}) {
        SCOPED_TRACE(wmClass + " in group " + std::to_string(group));
        const int before = activations;
        PasteTarget target(wmClass);
        ASSERT_TRUE(target.waitUntilActive(5.0));
        EXPECT_TRUE(waitUntil([&] { return activations > before; }, 2.0));
        // No _NET_WM_PID on the test window: the id reads 0.
        EXPECT_EQ(rig.front.frontmost(), wmClass + ":0");
        lockKeyboardGroup(group);
        ASSERT_EQ(lockedKeyboardGroup(), group);
        rig.insert("עברית ls");
        rig.clock.advance(0.03);
        EXPECT_EQ(target.waitForPaste(5.0), "עברית ls");
        EXPECT_EQ(target.lastPasteHadShift(), shift);
        EXPECT_EQ(target.lastPasteGroup(), 0);    // typed as a Latin V
        EXPECT_EQ(lockedKeyboardGroup(), group);  // and the user's group given back
    }
}

TEST(ClipboardX11, ModifierStateFollowsHeldKeys) {
    X11PasteRig rig(false);
    ASSERT_TRUE(rig.start());
    if (!requireProgram("xdotool", "xdotool")) {
        return;
    }
    auto& state = rig.keyboard;
    EXPECT_EQ(state.combinedFlags(), 0u);
    ASSERT_EQ(std::system("xdotool keydown Control_L keydown Shift_L keydown Super_L"), 0);
    EXPECT_TRUE(waitUntil([&] { return state.combinedFlags() == 0x160000u; }, 5.0))
        << std::hex << state.combinedFlags();
    EXPECT_EQ(state.hardwareFlags(), 0x160000u);
    ASSERT_EQ(std::system("xdotool keyup Control_L keyup Shift_L keyup Super_L"), 0);
    EXPECT_TRUE(waitUntil([&] { return state.combinedFlags() == 0; }, 5.0));
}

TEST(ClipboardX11, MisbehavingOwnersCostBoundedTimeAndNothingElse) {
    XRig x(XRig::Options{false});
    ASSERT_TRUE(x.ok());
    // Without a window manager the server resets whenever its last client
    // leaves; keep one connected across the cases.
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> keeper(
        xcb_connect(nullptr, nullptr), xcb_disconnect);
    for (auto mode : {RogueOwner::Mode::silent, RogueOwner::Mode::garbageTargets,
                      RogueOwner::Mode::emptyTargets, RogueOwner::Mode::stalledIncr}) {
        X11Pasteboard pasteboard({0.3, 0.3, 1.0, 256});
        std::string error;
        ASSERT_TRUE(pasteboard.start("", &error)) << error << " mode " << static_cast<int>(mode);
        const auto before = pasteboard.changeCount();
        RogueOwner owner(mode);
        ASSERT_TRUE(waitUntil([&] { return pasteboard.changeCount() > before; }, 5.0));

        const auto started = Clock::now();
        auto snapshot = std::make_shared<ClipboardSnapshot>(pasteboard.changeCount());
        snapshot->capture(pasteboard, ClipboardPaster::kSnapshotBudgetBytes);
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_LT(seconds, 2.5) << static_cast<int>(mode);
        EXPECT_TRUE(snapshot->finished());
        const auto items = snapshot->items();
        if (mode == RogueOwner::Mode::garbageTargets) {
            // Only real atoms survive, once each: the answer of the text target.
            ASSERT_EQ(items.size(), 1u);
            ASSERT_EQ(items[0].size(), 1u);
            EXPECT_EQ(items[0][0].type, "UTF8_STRING");
            EXPECT_EQ(items[0][0].data, "rogue");
        } else {
            for (const auto& item : items) EXPECT_TRUE(item.empty());
        }
    }
}

TEST(ClipboardX11, AnOwnerThatDiesMidTransferAndAServerThatGoesAway) {
    auto x = std::make_unique<XRig>(XRig::Options{false});
    ASSERT_TRUE(x->ok());
    X11Pasteboard pasteboard({0.5, 0.5, 0.5, 256});
    ASSERT_TRUE(pasteboard.start(""));
    auto owner = std::make_unique<RogueOwner>(RogueOwner::Mode::stalledIncr);
    ASSERT_TRUE(waitUntil([&] { return pasteboard.changeCount() >= 1; }, 5.0));
    auto readers = pasteboard.readItems();
    ASSERT_EQ(readers.size(), 1u);
    const auto types = readers[0]->types();
    owner->die();
    for (const auto& type : types) EXPECT_FALSE(readers[0]->data(type, {}));
    EXPECT_TRUE(waitUntil([&] { return pasteboard.readItems().empty(); }, 5.0));
    EXPECT_EQ(pasteboard.changeCount(), 1);  // a client gone is no copy

    x.reset();  // the X server goes away
    const auto started = Clock::now();
    pasteboard.setItems({});
    EXPECT_TRUE(pasteboard.readItems().empty());
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), 2.0);
    pasteboard.stop();
}

}  // namespace
}  // namespace velmarune::testing
