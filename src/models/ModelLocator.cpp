#include "models/ModelLocator.h"

#include <pwd.h>
#include <unistd.h>

namespace velmarune {

namespace {

bool fileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

std::optional<std::string> homeOfUser(const std::string& name) {
    long bufferSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? static_cast<size_t>(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir) {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

}  // namespace

ModelLocator::ModelLocator(UserDefaults& defaults, const Paths& paths, ModelCatalog catalog)
    : m_defaults(defaults),
      m_home(paths.home),
      m_modelsFolder(paths.modelsFolder()),
      m_catalog(std::move(catalog)) {}

std::filesystem::path ModelLocator::installPath(const ModelEntry& entry) const {
    return m_modelsFolder / entry.fileName;
}

bool ModelLocator::isInstalled(const ModelEntry& entry) const {
    return fileExists(installPath(entry).string());
}

std::optional<int64_t> ModelLocator::catalogueSize(const std::filesystem::path& path) const {
    for (const auto& entry : m_catalog.entries()) {
        if (installPath(entry) == path) {
            return entry.fileSizeBytes;
        }
    }
    return std::nullopt;
}

std::string ModelLocator::downloadURL(const ModelEntry& entry) const {
    const auto base = m_mirror ? m_mirror : m_defaults.stringValue(kModelMirrorKey);
    return base && !base->empty() ? mirroredURL(*base, entry) : entry.downloadURL;
}

std::string ModelLocator::mirroredURL(const std::string& base, const ModelEntry& entry) {
    return base + (base.ends_with('/') ? "" : "/") + entry.fileName;
}

std::optional<std::string> ModelLocator::assignedPath(ModelSlot slot) const {
    auto value = m_defaults.stringValue(modelSlotDefaultsKey(slot));
    if (!value || value->empty()) {
        return std::nullopt;
    }
    return value;
}

bool ModelLocator::assign(const ModelEntry& entry, ModelSlot slot) {
    return m_defaults.setString(modelSlotDefaultsKey(slot), installPath(entry).string());
}

std::optional<ModelEntry> ModelLocator::activeEntry(ModelSlot slot) const {
    auto stored = assignedPath(slot);
    if (!stored) {
        return std::nullopt;
    }
    for (const auto& entry : m_catalog.entries()) {
        if (installPath(entry).string() == *stored) {
            return entry;
        }
    }
    return std::nullopt;
}

bool ModelLocator::isActive(const ModelEntry& entry, ModelSlot slot) const {
    auto active = activeEntry(slot);
    return active && active->id == entry.id;
}

std::vector<ModelSlot> ModelLocator::slotsNeedingModels() const {
    std::vector<ModelSlot> result;
    for (ModelSlot slot : kAllModelSlots) {
        auto stored = assignedPath(slot);
        if (!stored || !fileExists(*stored)) {
            result.push_back(slot);
        }
    }
    return result;
}

void ModelLocator::seedUnassignedSlots(const std::string& hebrewID,
                                       const std::string& multilingualID) {
    const std::pair<ModelSlot, const std::string*> pairs[] = {
        {ModelSlot::hebrew, &hebrewID}, {ModelSlot::multilingual, &multilingualID}};
    for (const auto& [slot, id] : pairs) {
        if (assignedPath(slot)) {
            continue;
        }
        if (auto entry = m_catalog.entry(*id)) {
            assign(*entry, slot);
        }
    }
}

std::filesystem::path ModelLocator::resolve(ModelSlot slot) const {
    auto stored = assignedPath(slot);
    if (!stored) {
        throw ModelLocatorError::slotUnassigned(slot);
    }
    const std::string expanded = expandTilde(*stored, m_home);
    if (!fileExists(expanded)) {
        throw ModelLocatorError::fileMissing(slot, expanded);
    }
    m_log.info("Resolved %{public}s → %{public}s", modelSlotRawValue(slot), expanded);
    return expanded;
}

std::string ModelLocator::expandTilde(const std::string& path, const std::filesystem::path& home) {
    if (path.empty() || path[0] != '~') {
        return path;
    }
    const size_t slash = path.find('/');
    const std::string user =
        path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::string rest = slash == std::string::npos ? std::string() : path.substr(slash);
    std::string base;
    if (user.empty()) {
        base = home.string();
    } else if (auto other = homeOfUser(user)) {
        base = *other;
    } else {
        return path;
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    if (base == "/" && !rest.empty()) {
        return rest;
    }
    return base + rest;
}

}  // namespace velmarune
