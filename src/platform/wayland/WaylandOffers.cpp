#include "platform/wayland/WaylandOffers.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger log{"WaylandPasteboard"};
using Clock = std::chrono::steady_clock;

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}
}  // namespace

std::optional<PasteboardBytes> readPipe(int fd, const std::function<bool()>& stop,
                                        double replySeconds, double chunkSeconds) {
    PasteboardBytes bytes;
    auto deadline = Clock::now() + seconds(replySeconds);
    char buffer[65536];
    while (true) {
        if (stop && stop()) {
            return std::nullopt;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            log.info("clipboard owner stopped answering after %{public}ld bytes",
                     static_cast<int64_t>(bytes.size()));
            return std::nullopt;
        }
        // Short slices, so that `stop` is heard.
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50)));
        if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) {
            return bytes;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
        deadline = Clock::now() + seconds(chunkSeconds);
    }
}

}  // namespace velmarune
