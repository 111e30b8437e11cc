#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmarune {

// Microphone authorisation states for the permission walk. On Linux the
// "permission" is a reachable audio server offering a capture source.
struct MicrophonePermission {
    enum class Status { granted, denied, restricted, notDetermined };

    static std::string rawValue(Status status) {
        switch (status) {
            case Status::granted:
                return "granted";
            case Status::denied:
                return "denied";
            case Status::restricted:
                return "restricted";
            case Status::notDetermined:
                break;
        }
        return "notDetermined";
    }

    // An unknown string yields no status.
    static std::optional<Status> fromRawValue(std::string_view raw) {
        for (Status s :
             {Status::granted, Status::denied, Status::restricted, Status::notDetermined}) {
            if (raw == rawValue(s)) {
                return s;
            }
        }
        return std::nullopt;
    }
};

}  // namespace velmarune
