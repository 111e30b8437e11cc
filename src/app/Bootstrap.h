#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/Published.h"
#include "foundation/Task.h"
#include "foundation/UserDefaults.h"
#include "models/ModelSlot.h"

namespace velmarune {

class DictationPipeline;
class LoginItem;
class PermissionWalk;
class WhisperEngine;

// Runs the one-time first-run steps, the settings migration, loads the two
// speech engines in the background and performs the audio-and-engine reset.
// Main thread, except the engine loading it starts.
class Bootstrap : public std::enable_shared_from_this<Bootstrap> {
  public:
    struct Dependencies {
        MainQueue* mainQueue = nullptr;
        Executor* loader = nullptr;  // where engine loading runs
        std::shared_ptr<AppState> appState;
        UserDefaults* defaults = nullptr;
        PermissionWalk* permissions = nullptr;
        LoginItem* loginItem = nullptr;  // optional
        std::weak_ptr<DictationPipeline> pipeline;

        // Model slots without a usable file, in listing order.
        std::function<std::vector<ModelSlot>()> slotsNeedingModels;
        // The slot's file; throws a ModelLocatorError.
        std::function<std::filesystem::path(ModelSlot)> resolveSlot;
        // Loads one engine; throws on failure. Called on loader threads.
        std::function<std::shared_ptr<WhisperEngine>(const std::filesystem::path&)> loadEngine;
        // Where the catalogue's multilingual model is installed.
        std::function<std::filesystem::path()> canonicalMultilingualPath;
        // The start-up conflict count for the stored chord.
        std::function<void()> countHotkeyConflicts;
        // Calls back on the main queue after every completed model download.
        std::function<Subscription(std::function<void()>)> observeModelDownloads;
    };

    explicit Bootstrap(Dependencies deps);

    void setOnEngineReady(std::function<void()> callback) { m_onEngineReady = std::move(callback); }

    void start();
    void loadEngines();
    void performReset();

  private:
    // Loads both engines; `done` runs on the main thread with the error's
    // description, or nothing on success.
    void load(std::function<void(std::optional<std::string>)> done);
    void afterPermissions(bool firstRun);
    void migrate();

    Dependencies m_deps;
    Logger m_log{"Bootstrap"};
    std::function<void()> m_onEngineReady;
    Subscription m_downloadSubscription;
    // Only the newest load publishes: a reload that starts while an older one
    // runs supersedes it.
    uint64_t m_loadGeneration = 0;
};

}  // namespace velmarune
