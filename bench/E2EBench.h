#pragma once

// For the benchmarks that drive the running application in the end-to-end
// suite's private desktop: starting it, and what /proc says of it.
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "ProcessCost.h"
#include "delivery/X11TestClients.h"
#include "dictation/DesktopRig.h"

namespace velmarune::bench {

// Starts the application with generated models and waits until it hears the
// microphone; empty when ready, else what failed.
inline std::string startApplicationForDictation(testing::DesktopRig& rig) {
    if (!rig.ok()) {
        return "the desktop rig did not start";
    }
    rig.installModels();
    rig.startApplication();
    if (!rig.waitForLog("capture engine started", 60.0)) {
        return "the application did not start its capture";
    }
    // The virtual microphone's first audio comes about two seconds after a
    // capture opens it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    return {};
}

// As above, and then until `target` has the focus.
inline std::string startForDictation(testing::DesktopRig& rig, testing::PasteTarget& target) {
    if (std::string failure = startApplicationForDictation(rig); !failure.empty()) {
        return failure;
    }
    if (!target.waitUntilActive(5.0)) {
        return "the paste target did not become active";
    }
    return {};
}

}  // namespace velmarune::bench
