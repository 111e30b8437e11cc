#include "platform/linux/LinuxMachineFacts.h"

#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "models/VolumeCapacity.h"

namespace velmarune {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Calls `visit(key, value)` for each "key : value" line.
template <typename Visit>
void forEachField(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            visit(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        }
    }
}

std::optional<std::string> readSmallFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in) {
        return std::nullopt;
    }
    // /proc files report size 0: read until the end, but never without bound.
    std::string text(1 << 20, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

bool unixSocketAccepts(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::filesystem::path nearestExisting(std::filesystem::path folder) {
    std::error_code ec;
    while (!folder.empty() && !std::filesystem::exists(folder, ec)) {
        if (folder == folder.parent_path()) {
            break;
        }
        folder = folder.parent_path();
    }
    return folder;
}

}  // namespace

LinuxMachineFacts::LinuxMachineFacts(Probes probes) : m_probes(std::move(probes)) {}

SystemFacts::Processor LinuxMachineFacts::parseCpuInfo(std::string_view text,
                                                       const std::string& architecture) {
    SystemFacts::Processor processor;
    processor.architecture = architecture;
    std::string hardware;
    forEachField(text, [&](std::string_view key, std::string_view value) {
        if (key == "processor") {
            ++processor.logicalCores;
        } else if (key == "model name" && processor.modelName.empty()) {
            processor.modelName = value;
        } else if (key == "Hardware" && hardware.empty()) {
            hardware = value;
        } else if ((key == "flags" || key == "Features") && processor.features.empty()) {
            std::istringstream words{std::string(value)};
            for (std::string word; words >> word;) {
                processor.features.insert(word);
            }
        }
    });
    // ARM kernels rarely name the processor; the board name is the next best.
    if (processor.modelName.empty()) {
        processor.modelName = hardware;
    }
    return processor;
}

std::optional<uint64_t> LinuxMachineFacts::parseMemTotal(std::string_view text) {
    std::optional<uint64_t> bytes;
    forEachField(text, [&](std::string_view key, std::string_view value) {
        if (key != "MemTotal" || bytes) {
            return;
        }
        uint64_t kibibytes = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), kibibytes);
        if (error == std::errc() &&
            trim(std::string_view(end, value.data() + value.size() - end)) == "kB" &&
            kibibytes > 0 && kibibytes < (UINT64_MAX >> 10)) {
            bytes = kibibytes * 1024;
        }
    });
    return bytes;
}

std::optional<std::string> LinuxMachineFacts::env(const char* name) const {
    if (m_probes.getenv) {
        return m_probes.getenv(name);
    }
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

SystemFacts::Session LinuxMachineFacts::session() const {
    SystemFacts::Session session;
    session.type = env("XDG_SESSION_TYPE").value_or("");
    session.desktop = env("XDG_CURRENT_DESKTOP").value_or("");
    if (const auto display = env("WAYLAND_DISPLAY"); display && !display->empty()) {
        std::string socket = *display;
        if (socket.front() != '/') {
            socket = env("XDG_RUNTIME_DIR").value_or("") + "/" + socket;
        }
        session.waylandReachable = unixSocketAccepts(socket);
    }
    session.x11Reachable = m_probes.x11Reachable && m_probes.x11Reachable();
    return session;
}

SystemFacts LinuxMachineFacts::gather(const std::filesystem::path& modelsFolder) {
    SystemFacts facts;
    utsname names{};
    const std::string architecture = ::uname(&names) == 0 ? names.machine : "";
    facts.processor =
        parseCpuInfo(readSmallFile(m_probes.procFolder / "cpuinfo").value_or(""), architecture);
    if (facts.processor.logicalCores == 0) {
        facts.processor.logicalCores =
            static_cast<int>(std::max(0L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    }
    facts.physicalMemoryBytes =
        parseMemTotal(readSmallFile(m_probes.procFolder / "meminfo").value_or(""));
    if (!facts.physicalMemoryBytes) {
        struct sysinfo info {};
        if (::sysinfo(&info) == 0 && info.totalram > 0) {
            facts.physicalMemoryBytes = static_cast<uint64_t>(info.totalram) * info.mem_unit;
        }
    }
    facts.freeDiskBytes = volumeAvailableCapacity(nearestExisting(modelsFolder));
    facts.session = session();
    if (m_probes.microphone) {
        facts.microphone = m_probes.microphone();
    }
    return facts;
}

}  // namespace velmarune
