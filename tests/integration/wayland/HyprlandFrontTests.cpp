#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

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

// Hyprland's two sockets: requests answered with the active window set by
// the test, events sent when the test says.
class FakeHyprland {
  public:
    FakeHyprland()
        : m_requests(listenAt(m_dir / ".socket.sock")),
          m_events(listenAt(m_dir / ".socket2.sock")) {
        m_thread = std::thread([this] { serve(); });
    }
    ~FakeHyprland() {
        m_stop = true;
        m_thread.join();
        for (int fd : {m_requests, m_events, m_subscriber.load()})
            if (fd >= 0)
                close(fd);
    }
    std::string dir() const { return m_dir.path().string(); }
    void setWindow(const std::string& json) {
        std::lock_guard lock(m_mutex);
        m_window = json;
    }
    bool emit(const std::string& lines) {
        waitUntil([&] { return m_subscriber >= 0; }, 5.0);
        return write(m_subscriber, lines.data(), lines.size()) ==
               static_cast<ssize_t>(lines.size());
    }
    void dropSubscriber() { close(m_subscriber.exchange(-1)); }

  private:
    void serve() {
        while (!m_stop) {
            pollfd fds[2] = {{m_requests, POLLIN, 0}, {m_events, POLLIN, 0}};
            if (poll(fds, 2, 20) <= 0)
                continue;
            if (fds[1].revents & POLLIN)
                m_subscriber = accept4(m_events, nullptr, nullptr, SOCK_CLOEXEC);
            if (fds[0].revents & POLLIN) {
                const int client = accept4(m_requests, nullptr, nullptr, SOCK_CLOEXEC);
                char request[64] = {};
                [[maybe_unused]] auto got = read(client, request, sizeof request - 1);
                std::string answer;
                {
                    std::lock_guard lock(m_mutex);
                    answer =
                        std::string(request) == "j/activewindow" ? m_window : "unknown request";
                }
                [[maybe_unused]] auto sent = write(client, answer.data(), answer.size());
                close(client);
            }
        }
    }

    TempDir m_dir{"velmarune-hypr"};
    int m_requests, m_events;
    std::atomic<int> m_subscriber{-1};
    std::mutex m_mutex;
    std::string m_window = "{}";
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(HyprlandFront, AsksForTheActiveWindowAfterEachFocusEvent) {
    SwayRig sway;  // only for a Wayland connection to run the loop on
    if (!sway.ok()) {
        GTEST_SKIP() << "no headless sway: " << sway.failure();
    }
    FakeHyprland hyprland;
    hyprland.setWindow(R"({"address":"0x5a1","class":"foot","title":"~","pid":42})");
    auto loop = std::make_shared<WaylandEventLoop>();
    ASSERT_TRUE(loop->connect(sway.waylandSocket()));
    HyprlandFrontApplication front;
    std::string error;
    ASSERT_TRUE(front.attach(loop, hyprland.dir(), &error)) << error;
    loop->start();
    EXPECT_EQ(front.frontmost(), "foot:42");
    std::atomic<int> activations{0};
    front.setOnActivation([&] { ++activations; });

    const struct {
        std::string window, events;
        std::optional<std::string> identity;
    } steps[] = {
        {R"({"address":"0x77","class":"firefox","pid":7})",
         "openwindow>>77,1,firefox,Firefox\nactivewindow>>firefox,Firefox\nactivewindowv2>>77\n",
         "firefox:7"},
        {"{}", "workspace>>9\nactivewindow>>,\nactivewindowv2>>\n", std::nullopt},
        // An X11 window without a class, split across two writes.
        {R"({"address":"0x78","class":"","pid":0})", "activewindowv2>", "?:0"},
    };
    int expected = 0;
    for (const auto& step : steps) {
        hyprland.setWindow(step.window);
        ASSERT_TRUE(hyprland.emit(step.events));
        if (step.events.back() != '\n') {
            ASSERT_TRUE(hyprland.emit(">78\n"));
        }
        EXPECT_TRUE(waitUntil([&] { return activations == expected + 1; }, 5.0)) << step.window;
        expected = activations;
        EXPECT_EQ(front.frontmost(), step.identity);
    }
    hyprland.dropSubscriber();
    hyprland.setWindow(R"({"address":"0x79","class":"foot","pid":43})");
    EXPECT_TRUE(waitUntil([&] { return activations > expected; }, 5.0));
    EXPECT_EQ(front.frontmost(), std::nullopt);
    loop->stop();
}

}  // namespace
}  // namespace velmarune::testing
