#include "shell/DesktopFacts.h"

#include <algorithm>

#include "platform/linux/LinuxMachineFacts.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "platform/x11/X11DisplayProbe.h"

namespace velmarune {

SystemFacts::Microphone microphoneFacts(PulseCaptureSession& session, double waitSeconds) {
    SystemFacts::Microphone microphone;
    microphone.serverReachable = session.waitUntilConnected(waitSeconds);
    if (!microphone.serverReachable) {
        return microphone;
    }
    const std::vector<CaptureDevice> sources = session.devices();
    microphone.sourceCount = static_cast<int>(sources.size());
    const auto defaultID = session.defaultDeviceID();
    auto it = std::find_if(sources.begin(), sources.end(),
                           [&](const CaptureDevice& d) { return defaultID && d.id == *defaultID; });
    // The default may be an output's monitor, which is no microphone.
    if (it == sources.end()) {
        it = sources.begin();
    }
    if (it != sources.end()) {
        microphone.sourceName = it->name.empty() ? it->id : it->name;
    }
    return microphone;
}

std::unique_ptr<MachineFacts> makeDesktopFacts(PulseCaptureSession& session,
                                               double soundServerWaitSeconds) {
    LinuxMachineFacts::Probes probes;
    probes.x11Reachable = [] { return probeX11Display().reachable; };
    probes.microphone = [&session, soundServerWaitSeconds] {
        return microphoneFacts(session, soundServerWaitSeconds);
    };
    return std::make_unique<LinuxMachineFacts>(std::move(probes));
}

}  // namespace velmarune
