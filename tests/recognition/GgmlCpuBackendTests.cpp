#include <gtest/gtest.h>

#include "recognition/GgmlCpuBackend.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

TEST(GgmlCpuBackend, RecognisesModuleFilesByName) {
    EXPECT_EQ(cpuBackendVariant("/usr/lib/velmarune/libggml-cpu-haswell.so"), "haswell");
    EXPECT_EQ(cpuBackendVariant("libggml-cpu-x64.so"), "x64");
    for (const char* other : {"libggml-base.so.0", "libggml-cpu-.so", "libggml-cpu-x64.so.1",
                              "libggml-cuda.so", "libwhisper.so.1"}) {
        EXPECT_EQ(cpuBackendVariant(other), "") << other;
    }
}

TEST(GgmlCpuBackend, PicksTheHighestRunnableScoreAndNothingWhenNoneRuns) {
    const std::vector<CpuBackendCandidate> mixed = {
        {"a/libggml-cpu-x64.so", 1},
        {"a/libggml-cpu-skylakex.so", 0},  // AVX-512 absent: cannot run here
        {"a/libggml-cpu-haswell.so", 40},
        {"a/libggml-cpu-zen4.so", 40},
    };
    ASSERT_NE(bestCpuBackend(mixed), nullptr);
    EXPECT_EQ(bestCpuBackend(mixed)->path, "a/libggml-cpu-haswell.so");
    EXPECT_EQ(bestCpuBackend({{"a/libggml-cpu-icelake.so", 0}}), nullptr);
    EXPECT_EQ(bestCpuBackend({}), nullptr);
}

TEST(GgmlCpuBackend, ModulesComeFromTheInstallBesideTheExecutableElseTheBuildTree) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "usr/lib/velmarune");
    EXPECT_EQ(ggmlModuleFolder(dir / "usr/bin/velmarune", "/build/lib/velmarune"),
              dir / "usr/lib/velmarune");
    EXPECT_EQ(ggmlModuleFolder(dir / "build/src/shell/velmarune", "/build/lib/velmarune"),
              "/build/lib/velmarune");
}

}  // namespace
}  // namespace velmarune
