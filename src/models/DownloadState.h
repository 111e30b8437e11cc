#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace velmarune {

// What the user interface shows for one model download. An entry without a
// state is idle: never started, cancelled, or installed.
struct DownloadState {
    double fractionCompleted = 0.0;    // bytes written ÷ bytes expected, 0…1
    bool isActive = false;             // a transfer is running
    bool isVerifying = false;          // the file has arrived and is being checked
    std::optional<std::string> error;  // the last failure, only in a failed state

    bool operator==(const DownloadState&) const = default;
};

// For test failure messages and debugging.
inline std::ostream& operator<<(std::ostream& out, const DownloadState& state) {
    return out << "{fraction " << state.fractionCompleted << (state.isActive ? ", active" : "")
               << (state.isVerifying ? ", verifying" : "")
               << (state.error ? ", error \"" + *state.error + "\"" : std::string()) << "}";
}

}  // namespace velmarune
