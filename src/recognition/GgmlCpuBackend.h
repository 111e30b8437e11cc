#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmarune {

// A package carries ggml's CPU code once per x86-64 feature level, each as a
// module "libggml-cpu-<variant>.so" that rates how well it fits the running
// CPU (0: it cannot run here). These pick and load the best one.

struct CpuBackendCandidate {
    std::filesystem::path path;
    int score = 0;
};

// The variant name of a module file ("haswell" for libggml-cpu-haswell.so);
// empty when the file is not a CPU module.
std::string cpuBackendVariant(const std::filesystem::path& file);

// The candidate with the highest positive score, the first on a tie;
// nullptr when none can run on this CPU.
const CpuBackendCandidate* bestCpuBackend(const std::vector<CpuBackendCandidate>& candidates);

// The folder of the modules: <prefix>/<libdir>/velmarune beside the
// executable's bin/ when installed, else the build tree's, whose path is
// compiled in.
std::filesystem::path ggmlModuleFolder(const std::filesystem::path& executable,
                                       const std::filesystem::path& buildTreeFolder);

// Loads the best CPU module once per process and logs which one it took.
// Returns what went wrong (the folder that lacks a module for this
// processor), the same on every call; nothing when ggml's CPU code is built in.
std::optional<std::string> loadGgmlCpuBackendOnce();

}  // namespace velmarune
