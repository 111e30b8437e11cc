#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/UserDefaults.h"
#include "models/ModelCatalog.h"
#include "models/ModelLocatorError.h"

namespace velmarune {

// Settings key: the base address of a mirror (or a local server) that serves
// the catalogue's models; empty or absent for the catalogue's own addresses.
inline constexpr const char* kModelMirrorKey = "modelMirrorURL";

// The two model slots and their persisted paths, the models folder, and the
// resolution of a slot to a file for the engine loader. Every operation is
// synchronous and reads the settings and the file system at the moment of use.
class ModelLocator {
  public:
    ModelLocator(UserDefaults& defaults, const Paths& paths,
                 ModelCatalog catalog = ModelCatalog::standard());

    const ModelCatalog& catalog() const { return m_catalog; }
    std::vector<ModelEntry> entries(ModelSlot slot) const { return m_catalog.entries(slot); }

    const std::filesystem::path& modelsFolder() const { return m_modelsFolder; }
    std::filesystem::path installPath(const ModelEntry& entry) const;
    bool isInstalled(const ModelEntry& entry) const;
    // The catalogue's size of the file at `path` when it is an entry's
    // install path, so that a short or padded download is caught.
    std::optional<int64_t> catalogueSize(const std::filesystem::path& path) const;

    // Where an entry is downloaded from: the mirror of the settings
    // (kModelMirrorKey) when one is set, else the catalogue's address. Any
    // source is safe: the file is checked against the catalogue's digest.
    std::string downloadURL(const ModelEntry& entry) const;
    // For this process only (`velmarune models download --from`): `base`
    // takes the place of the mirror of the settings.
    void useMirror(std::string base) { m_mirror = std::move(base); }
    // A mirror serves each model under its installed file name.
    static std::string mirroredURL(const std::string& base, const ModelEntry& entry);

    // The stored path, or nothing when the key is absent or empty.
    std::optional<std::string> assignedPath(ModelSlot slot) const;
    // Stores the entry's install path; callers only offer matching entries.
    // False when the settings could not be saved.
    bool assign(const ModelEntry& entry, ModelSlot slot);
    // The catalogue entry whose install path equals the stored string exactly
    // (a custom file or a path written with "~" has none).
    std::optional<ModelEntry> activeEntry(ModelSlot slot) const;
    bool isActive(const ModelEntry& entry, ModelSlot slot) const;
    // Slots, in listing order, whose stored path is unset or names no file.
    // The path is tested as stored, without tilde expansion.
    std::vector<ModelSlot> slotsNeedingModels() const;
    // Assigns the given entries to slots that have no path yet; a path the
    // user chose is never replaced, and an unknown ID does nothing.
    void seedUnassignedSlots(const std::string& hebrewID, const std::string& multilingualID);

    // The slot's model file, tilde expanded; throws ModelLocatorError.
    std::filesystem::path resolve(ModelSlot slot) const;

    // Expands a leading "~" or "~user" as the shell would; anything else,
    // including an unknown user, is returned unchanged.
    static std::string expandTilde(const std::string& path, const std::filesystem::path& home);

  private:
    UserDefaults& m_defaults;
    std::filesystem::path m_home;
    std::filesystem::path m_modelsFolder;
    ModelCatalog m_catalog;
    std::optional<std::string> m_mirror;
    Logger m_log{"ModelLocator"};
};

}  // namespace velmarune
