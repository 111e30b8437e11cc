#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MachineFacts.h"

namespace velmarune {

// Machine facts from /proc, the kernel and the session's environment. The
// display and sound-server probes come from the backends that would use them,
// so that "reachable" means what the application itself can connect to.
class LinuxMachineFacts : public MachineFacts {
  public:
    struct Probes {
        std::function<bool()> x11Reachable;
        std::function<SystemFacts::Microphone()> microphone;
        // Replaceable for tests; the real environment when empty.
        std::function<std::optional<std::string>(const char*)> getenv;
        std::filesystem::path procFolder = "/proc";
    };

    explicit LinuxMachineFacts(Probes probes);

    SystemFacts gather(const std::filesystem::path& modelsFolder) override;

    // /proc/cpuinfo as x86 and ARM kernels write it; `architecture` is the
    // kernel's machine name (uname -m). Odd or empty text gives empty fields.
    static SystemFacts::Processor parseCpuInfo(std::string_view text,
                                               const std::string& architecture);
    // MemTotal of /proc/meminfo in bytes.
    static std::optional<uint64_t> parseMemTotal(std::string_view text);

  private:
    std::optional<std::string> env(const char* name) const;
    SystemFacts::Session session() const;

    Probes m_probes;
};

}  // namespace velmarune
