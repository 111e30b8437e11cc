#include "platform/wayland/WaylandOffers.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>

#include "foundation/Log.h"

namespace velmarune {

namespace {
const Logger log{"WaylandPasteboard"};
using Clock = std::chrono::steady_clock;

constexpr const char* kPasswordHint = "x-kde-passwordManagerHint";

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}
}  // namespace

std::vector<PasteboardOffer> buildOffers(std::vector<PasteboardItem> items) {
    std::vector<PasteboardOffer> result;
    if (items.empty()) {
        return result;
    }
    if (items.size() > 1) {
        log.info("the clipboard holds one item; %{public}ld more dropped",
                 static_cast<int64_t>(items.size() - 1));
    }
    auto& item = items.front();
    std::set<std::string> names;
    auto add = [&](PasteboardOffer offer) {
        if (names.insert(offer.name).second) {
            result.push_back(std::move(offer));
        }
    };
    bool transient = false;
    for (auto& [type, data] : item.data) {
        transient = transient || type == kTransientPasteboardType;
        add(PasteboardOffer{type, data, nullptr, {}});
    }
    for (const auto& type : item.promisedTypes) {
        if (type == "text/plain;charset=utf-8") {
            // Every text type a client may ask for, each one a read.
            for (const char* name :
                 {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "STRING", "TEXT"}) {
                add(PasteboardOffer{name, std::nullopt, item.provider, type});
            }
        } else {
            add(PasteboardOffer{type, std::nullopt, item.provider, type});
        }
    }
    if (transient) {
        // The hint Linux clipboard managers honour.
        add(PasteboardOffer{kPasswordHint, PasteboardBytes("secret"), nullptr, {}});
    }
    return result;
}

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
