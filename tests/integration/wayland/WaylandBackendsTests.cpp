#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <random>

#include "foundation/Log.h"
#include "platform/wayland/WaylandBackends.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "support/BackendPaster.h"
#include "support/CapturingLogSink.h"
#include "support/SwayRig.h"
#include "virtual-keyboard-unstable-v1-client.h"

namespace velmarune::testing {
namespace {

// The core's paster on the real Wayland backends, as the application wires
// them.
struct WaylandPasteRig : BackendPaster {
    SwayRig sway;
    std::unique_ptr<WaylandBackends> backends;

    // False (the test skipped) where sway cannot run here.
    // `swayIPC` false: the front window from the protocol, as elsewhere.
    bool start(bool swayIPC = true) {
        if (!sway.ok()) {
            return false;
        }
        std::string error;
        WaylandBackends::Options options;
        options.socket = sway.waylandSocket();
        options.swaySocket = swayIPC ? sway.swaySocket() : "none";
        options.hyprlandSocketDir = "none";
        backends = WaylandBackends::start(options, &error);
        if (!backends) {
            ADD_FAILURE() << error;
            return false;
        }
        EXPECT_TRUE(backends->missing().empty()) << backends->missing().front();
        if (!backends->pasteboard() || !backends->keystroke() || !backends->frontApplication()) {
            return false;
        }
        startPaster(pasteboard(), *backends->keystroke(), front());
        return true;
    }
    ~WaylandPasteRig() {
        stopPaster();
        backends.reset();
    }
    Pasteboard& pasteboard() { return *backends->pasteboard(); }
    FrontApplication& front() { return *backends->frontApplication(); }
    bool countReaches(int64_t count) {
        return waitUntil([&] { return pasteboard().changeCount() >= count; }, 5.0);
    }
};

#define START_OR_SKIP(rig, ...)                                           \
    if (!(rig).start(__VA_ARGS__)) {                                      \
        if (!(rig).sway.ok()) {                                           \
            GTEST_SKIP() << "no headless sway: " << (rig).sway.failure(); \
        }                                                                 \
        return;                                                           \
    }

// Another client's copy with several types, served from its own connection.
struct OtherClientCopy {
    std::shared_ptr<WaylandEventLoop> loop = std::make_shared<WaylandEventLoop>();
    WaylandPasteboard pasteboard;

    bool copy(const SwayRig& sway, std::vector<std::pair<std::string, PasteboardBytes>> types) {
        std::string error;
        if (!loop->connect(sway.waylandSocket(), &error) || !pasteboard.attach(loop, &error)) {
            ADD_FAILURE() << error;
            return false;
        }
        loop->start();
        PasteboardItem item;
        item.data = std::move(types);
        std::vector<PasteboardItem> items;
        items.push_back(std::move(item));
        pasteboard.setItems(std::move(items));
        return true;
    }
    ~OtherClientCopy() { loop->stop(); }
};

// The user's own keyboard with a Hebrew layout: the keymap the focused
// window holds until our virtual keyboard types.
class HebrewKeyboard {
  public:
    explicit HebrewKeyboard(const SwayRig& sway) {
        m_loop.connect(sway.waylandSocket());
        const auto global = m_loop.global("zwp_virtual_keyboard_manager_v1");
        if (!global || !m_loop.seat()) {
            return;
        }
        m_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(wl_registry_bind(
            m_loop.registry(), global->name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        m_keyboard =
            zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_loop.seat());
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        const xkb_rule_names names{"evdev", "pc105", "il", "", ""};
        xkb_keymap* keymap =
            xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const size_t size = std::strlen(text) + 1;
        const int fd = memfd_create("hebrew", MFD_CLOEXEC);
        EXPECT_EQ(write(fd, text, size), static_cast<ssize_t>(size));
        zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<uint32_t>(size));
        close(fd);
        std::free(text);
        xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        m_loop.roundtrip();
    }
    ~HebrewKeyboard() {
        if (m_keyboard) {
            zwp_virtual_keyboard_v1_destroy(m_keyboard);
            zwp_virtual_keyboard_manager_v1_destroy(m_manager);
            m_loop.roundtrip();
        }
    }
    bool ok() const { return m_keyboard != nullptr; }
    void type(uint32_t key) {
        zwp_virtual_keyboard_v1_key(m_keyboard, 0, key, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(m_keyboard, 1, key, WL_KEYBOARD_KEY_STATE_RELEASED);
        m_loop.roundtrip();
    }

  private:
    WaylandEventLoop m_loop;
    zwp_virtual_keyboard_manager_v1* m_manager = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
};

// The user typed on a Hebrew keyboard into foot and then dictated: the
// transcript lands byte for byte, with foot's Control+Shift+V, and the copy
// from before (three types, one larger than a pipe holds) comes back exactly.
TEST(WaylandPaste, PastesExactTextIntoFootUnderAHebrewLayoutAndPutsEveryTypeBack) {
    WaylandPasteRig rig;
    START_OR_SKIP(rig);
    std::string image(300 * 1024, '\0');
    std::mt19937 random(3);
    for (auto& byte : image) byte = static_cast<char>(random());
    const std::vector<std::pair<std::string, PasteboardBytes>> previous{
        {"text/plain;charset=utf-8", "previous ✓"},
        {"text/html", "<b>previous</b>"},
        {"image/png", image}};
    OtherClientCopy other;
    ASSERT_TRUE(other.copy(rig.sway, previous));
    ASSERT_TRUE(rig.countReaches(1));

    const auto out = rig.sway.dir() / "typed";
    ASSERT_TRUE(rig.sway.startTarget("foot", out));
    ASSERT_TRUE(
        waitUntil([&] { return rig.front().frontmost().value_or("").starts_with("foot:"); }, 5.0));
    HebrewKeyboard hebrew(rig.sway);
    ASSERT_TRUE(hebrew.ok());
    hebrew.type(KEY_A);  // ש on a Hebrew keyboard
    ASSERT_TRUE(waitUntil([&] { return readFile(out) == "ש"; }, 5.0)) << readFile(out);

    rig.paster->prepare();
    rig.queue.sync([] {});  // the key-down snapshot is taken
    rig.insert("שלום, hello ✓");
    rig.clock.advance(0.03);
    EXPECT_TRUE(waitUntil([&] { return readFile(out) == "ששלום, hello ✓"; }, 5.0)) << readFile(out);
    ASSERT_TRUE(rig.pump([&] { return rig.reads->firstReads == 1; }));

    // Clipboard managers are told to skip our copy.
    const auto types = rig.sway.run("wl-paste --list-types");
    EXPECT_NE(types.find("org.nspasteboard.TransientType"), std::string::npos) << types;
    EXPECT_EQ(rig.sway.run("wl-paste --no-newline --type x-kde-passwordManagerHint"), "secret");

    rig.clock.advance(1.0);
    for (const auto& [type, data] : previous) {
        std::string back;
        waitUntil(
            [&] {
                back = rig.sway.run("wl-paste --no-newline --type '" + type + "'");
                return back == data;
            },
            5.0);
        EXPECT_TRUE(back == data) << type << ": " << back.size() << " bytes back";
    }
    EXPECT_EQ(rig.reads->noReads, 0);
}

// sway's IPC names the process; the foreign-toplevel protocol only the app.
TEST(WaylandFront, FollowsFocusChangesMadeThroughSway) {
    for (const bool swayIPC : {true, false}) {
        WaylandPasteRig rig;
        START_OR_SKIP(rig, swayIPC);
        std::atomic<int> activations{0};
        rig.front().setOnActivation([&] { ++activations; });
        ASSERT_TRUE(rig.sway.startTarget("one", rig.sway.dir() / "one"));
        ASSERT_TRUE(rig.sway.startTarget("two", rig.sway.dir() / "two"));
        for (const std::string appID : {"one", "two", "one"}) {
            const int before = activations;
            rig.sway.swaymsg({"[app_id=" + appID + "] focus"});
            EXPECT_TRUE(waitUntil(
                [&] { return rig.front().frontmost().value_or("").starts_with(appID + ":"); }, 5.0))
                << rig.front().frontmost().value_or("none");
            EXPECT_GT(activations, before);
            EXPECT_EQ(rig.front().frontmostClassNames(), std::vector<std::string>{appID});
            const auto pid = rig.front().frontmost()->substr(appID.size() + 1);
            EXPECT_EQ(pid != "0", swayIPC) << pid;
        }
        // An empty workspace has no window in front.
        rig.sway.swaymsg({"workspace", "9"});
        EXPECT_TRUE(waitUntil([&] { return !rig.front().frontmost(); }, 5.0)) << swayIPC;
    }
}

// The compositor goes away mid-session: the loss is logged, the backends
// answer without it, and nothing hangs or crashes.
TEST(WaylandSession, TheCompositorExitingIsNoticedAndSurvived) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    WaylandPasteRig rig;
    START_OR_SKIP(rig);
    rig.sway.stopCompositor();
    EXPECT_TRUE(waitUntil([&] { return !rig.backends->connected(); }, 5.0));
    EXPECT_TRUE(waitUntil([&] { return !rig.front().frontmost(); }, 5.0));
    EXPECT_TRUE(sink->contains(
        "the Wayland compositor has gone away: no pasting until Velmarune is started again in a "
        "new session"));
    EXPECT_FALSE(rig.backends->keystroke()->post(PasteChord::controlV));
    rig.paster->prepare();
    rig.queue.sync([] {});
    rig.insert("nowhere");
    rig.clock.advance(10);
    EXPECT_EQ(rig.reads->firstReads, 0);
}

}  // namespace
}  // namespace velmarune::testing
