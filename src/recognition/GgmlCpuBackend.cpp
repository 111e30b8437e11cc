#include "recognition/GgmlCpuBackend.h"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <system_error>

#ifdef VELMARUNE_GGML_BACKEND_DL
#include <dlfcn.h>

#include <ggml-backend.h>
#endif

#include "foundation/Log.h"

#ifndef VELMARUNE_BUILD_GGML_MODULE_DIR
#define VELMARUNE_BUILD_GGML_MODULE_DIR ""
#endif
#ifndef VELMARUNE_GGML_MODULE_SUBDIR
#define VELMARUNE_GGML_MODULE_SUBDIR "lib/velmarune"
#endif

namespace velmarune {

namespace {

constexpr std::string_view kPrefix = "libggml-cpu-";
constexpr std::string_view kSuffix = ".so";

#ifdef VELMARUNE_GGML_BACKEND_DL
// Asks a module how well it fits this CPU without registering it: loading a
// module runs no code of its until ggml_backend_score is called.
int scoreOf(const std::filesystem::path& module) {
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return 0;
    }
    using ScoreFn = int (*)();
    auto* score = reinterpret_cast<ScoreFn>(dlsym(handle, "ggml_backend_score"));
    const int result = score != nullptr ? score() : 0;
    dlclose(handle);
    return result;
}

std::optional<std::string> loadBestModule() {
    const Logger log{"WhisperEngine"};
    std::error_code ec;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto folder = ggmlModuleFolder(ec ? std::filesystem::path() : executable,
                                         VELMARUNE_BUILD_GGML_MODULE_DIR);
    std::vector<CpuBackendCandidate> candidates;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (!cpuBackendVariant(entry.path()).empty()) {
            candidates.push_back({entry.path(), scoreOf(entry.path())});
        }
    }
    // The folder's order is arbitrary; ties go the same way on every start.
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.path < b.path; });
    const CpuBackendCandidate* best = bestCpuBackend(candidates);
    if (best == nullptr) {
        const std::string problem = "No speech engine code for this processor in " +
                                    folder.string() +
                                    " (libggml-cpu-*.so missing from the installation)";
        log.error("%{public}s", problem);
        return problem;
    }
    if (ggml_backend_load(best->path.c_str()) == nullptr) {
        const std::string problem = "Could not load the speech engine code " + best->path.string();
        log.error("%{public}s", problem);
        return problem;
    }
    log.info("ggml CPU variant: %{public}s (%{public}s)", cpuBackendVariant(best->path),
             best->path.string());
    return std::nullopt;
}
#endif

}  // namespace

std::string cpuBackendVariant(const std::filesystem::path& file) {
    const std::string name = file.filename().string();
    if (name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) ||
        !name.ends_with(kSuffix)) {
        return {};
    }
    return name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
}

const CpuBackendCandidate* bestCpuBackend(const std::vector<CpuBackendCandidate>& candidates) {
    const CpuBackendCandidate* best = nullptr;
    for (const auto& candidate : candidates) {
        if (candidate.score > 0 && (best == nullptr || candidate.score > best->score)) {
            best = &candidate;
        }
    }
    return best;
}

std::filesystem::path ggmlModuleFolder(const std::filesystem::path& executable,
                                       const std::filesystem::path& buildTreeFolder) {
    std::error_code ec;
    if (!executable.empty()) {
        const auto installed =
            executable.parent_path().parent_path() / VELMARUNE_GGML_MODULE_SUBDIR;
        if (std::filesystem::is_directory(installed, ec)) {
            return installed;
        }
    }
    return buildTreeFolder;
}

std::optional<std::string> loadGgmlCpuBackendOnce() {
#ifdef VELMARUNE_GGML_BACKEND_DL
    static std::once_flag once;
    static std::optional<std::string> problem;
    std::call_once(once, [] { problem = loadBestModule(); });
    return problem;
#else
    return std::nullopt;
#endif
}

}  // namespace velmarune
