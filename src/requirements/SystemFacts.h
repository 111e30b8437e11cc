#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace velmarune {

// What the requirements check knows about this machine. Anything the system
// would not tell is left empty and shown as "Unknown"; it never blocks.
struct SystemFacts {
    struct Processor {
        std::string architecture;        // "x86_64", "aarch64", ...; empty when unknown
        std::set<std::string> features;  // lower-case flag names ("avx2", "fma", "asimd")
        std::string modelName;           // empty when the system does not name it
        int logicalCores = 0;            // 0 when unknown

        bool operator==(const Processor&) const = default;
    };

    // Which display the application can actually reach, and what the login
    // session claims to be.
    struct Session {
        std::string type;     // $XDG_SESSION_TYPE as given ("x11", "wayland", "tty", "")
        std::string desktop;  // $XDG_CURRENT_DESKTOP as given ("GNOME", "KDE", "")
        bool x11Reachable = false;
        bool waylandReachable = false;

        bool operator==(const Session&) const = default;
    };

    struct Microphone {
        bool serverReachable = false;
        int sourceCount = 0;  // capture sources, monitors of outputs excluded
        // The default source's description (or the first source's when the
        // default is a monitor); empty without a source.
        std::string sourceName;

        bool operator==(const Microphone&) const = default;
    };

    Processor processor;
    std::optional<uint64_t> physicalMemoryBytes;
    std::optional<int64_t> freeDiskBytes;  // on the models folder's file system
    Session session;
    Microphone microphone;

    bool operator==(const SystemFacts&) const = default;
};

}  // namespace velmarune
