#include "shell/WaylandOutputs.h"

#include "foundation/Log.h"
#include "platform/wayland/WaylandBackends.h"

namespace velmarune {

const bool kWaylandOutputsBuilt = true;

std::optional<WaylandOutputs> startWaylandOutputs(std::string* error) {
    const Logger log{"Backends"};
    std::shared_ptr<WaylandBackends> backends = WaylandBackends::start({}, error);
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
