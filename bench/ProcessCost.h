#pragma once

// What /proc and getrusage say a process costs, for the benchmarks that
// print CPU and memory figures.
#include <sys/resource.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velmarune::bench {

// User plus system CPU time, in clock ticks, from a process's or a thread's
// stat file.
inline long cpuTicks(const std::filesystem::path& statFile) {
    std::ifstream in(statFile);
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    // Fields after the command name (which may hold spaces); utime and stime
    // are the 14th and 15th fields.
    std::istringstream rest(line.substr(close + 2));
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

inline long cpuTicks(pid_t pid) {
    return cpuTicks("/proc/" + std::to_string(pid) + "/stat");
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

// User plus system CPU time of this whole process, in seconds.
inline double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace velmarune::bench
