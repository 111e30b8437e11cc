#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>

#include "platform/wayland/HyprlandFrontApplication.h"
#include "platform/wayland/WaylandEventLoop.h"
#include "support/SwayRig.h"

namespace velmarune::testing {
namespace {

int listenAt(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(fd, 8), 0);
    return fd;
}

// The next connection to a listening socket, waiting at most 5 s.
int acceptWithin(int listening) {
    pollfd entry{listening, POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 5000), 1) << "nobody connected";
    return accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
}

// Hyprland's two sockets, served by the test itself: it sends the events and
// answers each request for the active window.
class FakeHyprland {
  public:
    ~FakeHyprland() {
        for (int fd : {m_requests, m_events, m_subscriber})
            if (fd >= 0)
                close(fd);
    }
    std::string dir() const { return m_dir.path().string(); }
    bool emit(const std::string& lines) {
        if (m_subscriber < 0) {
            m_subscriber = acceptWithin(m_events);
        }
        return write(m_subscriber, lines.data(), lines.size()) ==
               static_cast<ssize_t>(lines.size());
    }
    void answer(const std::string& window) {
        const int client = acceptWithin(m_requests);
        char request[64] = {};
        EXPECT_GT(read(client, request, sizeof request - 1), 0);
        EXPECT_STREQ(request, "j/activewindow");
        EXPECT_EQ(write(client, window.data(), window.size()), static_cast<ssize_t>(window.size()));
        close(client);
    }
    void dropSubscriber() {
        close(m_subscriber);
        m_subscriber = -1;
    }

  private:
    TempDir m_dir{"velmarune-hypr"};
    int m_requests = listenAt(m_dir / ".socket.sock");
    int m_events = listenAt(m_dir / ".socket2.sock");
    int m_subscriber = -1;
};

TEST(HyprlandFront, AsksForTheActiveWindowAfterEachFocusEvent) {
    SwayRig sway;  // only for a Wayland connection to run the loop on
    if (!sway.ok()) {
        GTEST_SKIP() << "no headless sway: " << sway.failure();
    }
    FakeHyprland hyprland;
    auto loop = std::make_shared<WaylandEventLoop>();
    ASSERT_TRUE(loop->connect(sway.waylandSocket()));
    HyprlandFrontApplication front;
    std::string error;
    auto first = std::async(std::launch::async, [&] {
        hyprland.answer(R"({"address":"0x5a1","class":"foot","title":"~","pid":42})");
    });
    ASSERT_TRUE(front.attach(loop, hyprland.dir(), &error)) << error;
    first.get();
    loop->start();
    EXPECT_EQ(front.frontmost(), "foot:42");
    std::atomic<int> activations{0};
    front.setOnActivation([&] { ++activations; });

    const struct {
        std::string events, window;
        std::optional<std::string> identity;
    } steps[] = {
        {"openwindow>>77,1,firefox,Firefox\nactivewindow>>firefox,Firefox\nactivewindowv2>>77\n",
         R"({"address":"0x77","class":"firefox","pid":7})", "firefox:7"},
        {"workspace>>9\nactivewindow>>,\nactivewindowv2>>\n", "{}", std::nullopt},
        // An X11 window without a class; its event split across two writes.
        {"activewindowv2>", R"({"address":"0x78","class":"","pid":0})", "?:0"},
    };
    for (const auto& step : steps) {
        const int before = activations;
        ASSERT_TRUE(hyprland.emit(step.events));
        if (step.events.back() != '\n') {
            ASSERT_TRUE(hyprland.emit(">78\n"));
        }
        hyprland.answer(step.window);
        EXPECT_TRUE(waitUntil([&] { return activations == before + 1; }, 5.0)) << step.window;
        EXPECT_EQ(front.frontmost(), step.identity);
    }
    // Hyprland going away leaves no window in front.
    const int before = activations;
    hyprland.dropSubscriber();
    EXPECT_TRUE(waitUntil([&] { return activations > before; }, 5.0));
    EXPECT_EQ(front.frontmost(), std::nullopt);
    loop->stop();
}

}  // namespace
}  // namespace velmarune::testing
