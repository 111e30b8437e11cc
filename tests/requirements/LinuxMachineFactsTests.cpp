#include <gtest/gtest.h>

#include "platform/linux/LinuxMachineFacts.h"
#include "requirements/RequirementsCheck.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

// Excerpts of real /proc/cpuinfo files (one block per logical processor).
constexpr const char* kAvx2Machine = R"(processor	: 0
model name	: Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz
flags		: fpu vme sse sse2 ssse3 fma cx16 sse4_1 sse4_2 movbe popcnt avx f16c rdrand avx2 bmi1 bmi2

processor	: 1
model name	: Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz
flags		: fpu vme sse sse2 ssse3 fma cx16 sse4_1 sse4_2 movbe popcnt avx f16c rdrand avx2 bmi1 bmi2
)";

constexpr const char* kOlderMachine = R"(processor	: 0
vendor_id	: GenuineIntel
model name	: Intel(R) Core(TM)2 Duo CPU     E8400  @ 3.00GHz
flags		: fpu vme de pse tsc msr pae mce cx8 sse sse2 ssse3 cx16 sse4_1 lahf_lm
)";

constexpr const char* kArmMachine = R"(processor	: 0
Features	: fp asimd evtstrm crc32 cpuid

processor	: 1
Features	: fp asimd evtstrm crc32 cpuid

processor	: 2
processor	: 3

Hardware	: BCM2835
Model		: Raspberry Pi 4 Model B Rev 1.4
)";

TEST(LinuxMachineFactsTest, ProcessorFromCpuInfo) {
    struct Case {
        const char* text;
        const char* architecture;
        std::string modelName;
        int cores;
        std::string processorClass;
    };
    const Case cases[] = {
        {kAvx2Machine, "x86_64", "Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz", 2, "x86-64-v3"},
        {kOlderMachine, "x86_64", "Intel(R) Core(TM)2 Duo CPU     E8400  @ 3.00GHz", 1, "x86-64"},
        {kArmMachine, "aarch64", "BCM2835", 4, "aarch64"},
        // A container that hides /proc, or a kernel that writes something else.
        {"", "x86_64", "", 0, "x86-64"},
        {"no colon here\n\n:::\nflags\n", "", "", 0, "unknown"},
    };
    for (const Case& c : cases) {
        const auto processor = LinuxMachineFacts::parseCpuInfo(c.text, c.architecture);
        EXPECT_EQ(processor.modelName, c.modelName) << c.text;
        EXPECT_EQ(processor.logicalCores, c.cores) << c.text;
        EXPECT_EQ(processorClass(processor), c.processorClass) << c.text;
    }
    EXPECT_TRUE(LinuxMachineFacts::parseCpuInfo(kArmMachine, "aarch64").features.contains("asimd"));
}

TEST(LinuxMachineFactsTest, MemTotalFromMemInfo) {
    EXPECT_EQ(LinuxMachineFacts::parseMemTotal("MemTotal:       16318480 kB\n"
                                               "MemFree:         1192460 kB\n"),
              16318480ull * 1024);
    for (const char* odd : {"", "MemFree: 12 kB\n", "MemTotal: lots\n", "MemTotal: 12 MB\n",
                            "MemTotal: 0 kB\n", "MemTotal: 99999999999999999999999 kB\n"}) {
        EXPECT_FALSE(LinuxMachineFacts::parseMemTotal(odd)) << odd;
    }
}

TEST(LinuxMachineFactsTest, GatherNeverFailsOnAMissingProcOrFolder) {
    testing::TempDir empty;
    LinuxMachineFacts::Probes probes;
    probes.procFolder = empty.path();
    probes.getenv = [](const char* name) -> std::optional<std::string> {
        if (std::string(name) == "XDG_SESSION_TYPE") {
            return "wayland";
        }
        if (std::string(name) == "WAYLAND_DISPLAY") {
            return "wayland-nowhere";
        }
        return std::nullopt;
    };
    const SystemFacts facts =
        LinuxMachineFacts(probes).gather(empty / "not" / "yet" / "Velmarune" / "Models");
    EXPECT_EQ(facts.processor.modelName, "");
    // The kernel still answers what /proc would have said.
    EXPECT_GT(facts.processor.logicalCores, 0);
    EXPECT_TRUE(facts.physicalMemoryBytes);
    EXPECT_TRUE(facts.freeDiskBytes);
    EXPECT_EQ(facts.session.type, "wayland");
    EXPECT_FALSE(facts.session.waylandReachable);
    EXPECT_FALSE(facts.session.x11Reachable);
    EXPECT_FALSE(facts.microphone.serverReachable);
}

}  // namespace
}  // namespace velmarune
