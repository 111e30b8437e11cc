#pragma once

// For the benchmarks that drive the running application in the end-to-end
// suite's private desktop: starting it, and what /proc says of it.
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "delivery/X11TestClients.h"
#include "dictation/DesktopRig.h"

namespace velmarune::bench {

// User plus system CPU time, in clock ticks.
inline long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    // Fields after the command name (which may hold spaces); utime and stime
    // are the 14th and 15th fields.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; rest >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

// Starts the application with generated models and waits until it hears the
// microphone and `target` has the focus; empty when ready, else what failed.
inline std::string startForDictation(testing::DesktopRig& rig, testing::PasteTarget& target) {
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
    if (!target.waitUntilActive(5.0)) {
        return "the paste target did not become active";
    }
    return {};
}

inline long residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

}  // namespace velmarune::bench
