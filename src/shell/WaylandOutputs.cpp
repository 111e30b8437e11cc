#include "shell/WaylandOutputs.h"

#include "foundation/Log.h"
#include "platform/wayland/WaylandBackends.h"

namespace velmarune {

const bool kWaylandOutputsBuilt = true;

std::optional<WaylandOutputs> startWaylandOutputs(std::string* error,
                                                  std::function<void()> onDisconnect) {
    const Logger log{"Backends"};
    WaylandBackends::Options options;
    options.onDisconnect = std::move(onDisconnect);
    std::shared_ptr<WaylandBackends> backends = WaylandBackends::start(options, error);
    if (!backends) {
        return std::nullopt;
    }
    for (const auto& served : backends->served()) log.info("Wayland %{public}s", served);
    for (const auto& missing : backends->missing()) log.error("Wayland %{public}s", missing);
    WaylandOutputs outputs;
    outputs.pasteboard = backends->pasteboard();
    outputs.keystroke = backends->keystroke();
    outputs.frontApplication = backends->frontApplication();
    outputs.stop = [backends] { backends->stop(); };
    outputs.owner = std::move(backends);
    return outputs;
}

}  // namespace velmarune
