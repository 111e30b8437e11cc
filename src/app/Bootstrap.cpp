#include "app/Bootstrap.h"

#include <future>
#include <set>

#include "app/DictationPipeline.h"
#include "models/ModelLocatorError.h"
#include "platform/LoginItem.h"
#include "platform/PermissionWalk.h"
#include "recognition/WhisperEngine.h"

namespace velmarune {

namespace {

constexpr const char* kDidFirstRunKey = "didFirstRunBootstrap";
constexpr const char* kDidMigrateKey = "didMigrateToV11";

std::string slotWords(const std::vector<ModelSlot>& slots) {
    std::string words;
    for (ModelSlot slot : slots) {
        words += (words.empty() ? "" : ", ") + modelSlotDisplayWord(slot);
    }
    return words;
}

bool isUnset(const std::optional<std::string>& value) {
    return !value || value->empty();
}

}  // namespace

Bootstrap::Bootstrap(Dependencies deps) : m_deps(std::move(deps)) {}

void Bootstrap::start() {
    const bool firstRun = !m_deps.defaults->boolValue(kDidFirstRunKey).value_or(false);
    m_log.info("Bootstrap — firstRun=%{bool,public}d", firstRun);
    std::weak_ptr<Bootstrap> weak = weak_from_this();
    if (m_deps.observeModelDownloads) {
        m_downloadSubscription = m_deps.observeModelDownloads([weak] {
            if (auto self = weak.lock()) {
                self->loadEngines();
            }
        });
    }
    m_deps.permissions->run(firstRun, [weak, firstRun] {
        if (auto self = weak.lock()) {
            self->afterPermissions(firstRun);
        }
    });
}

void Bootstrap::afterPermissions(bool firstRun) {
    if (m_deps.countHotkeyConflicts) {
        m_deps.countHotkeyConflicts();
    }
    if (firstRun) {
        if (m_deps.loginItem) {
            m_deps.loginItem->registerLoginItem();  // a failure is only logged
        }
        m_deps.defaults->setBool(kDidFirstRunKey, true);
        m_log.info("First-run bootstrap complete");
    }
    migrate();
    loadEngines();
}

void Bootstrap::migrate() {
    UserDefaults& defaults = *m_deps.defaults;
    if (defaults.boolValue(kDidMigrateKey).value_or(false)) {
        return;
    }
    std::error_code ec;
    if (isUnset(defaults.stringValue("hebrewModelPath"))) {
        const auto legacy = defaults.stringValue("customModelPath");
        if (!isUnset(legacy) && std::filesystem::is_regular_file(*legacy, ec)) {
            defaults.setString("hebrewModelPath", *legacy);
            m_log.info("v1.1 migration: hebrewModelPath ← legacy customModelPath");
        }
    }
    if (isUnset(defaults.stringValue("multilingualModelPath")) &&
        m_deps.canonicalMultilingualPath) {
        const auto canonical = m_deps.canonicalMultilingualPath();
        if (std::filesystem::is_regular_file(canonical, ec)) {
            defaults.setString("multilingualModelPath", canonical.string());
            m_log.info("v1.1 migration: multilingualModelPath ← canonical %{public}s",
                       canonical.string());
        }
    }
    defaults.setString("pttLanguage", "auto");
    m_log.info("v1.1 migration: pttLanguage reset to auto");
    defaults.setBool(kDidMigrateKey, true);
}

void Bootstrap::loadEngines() {
    m_log.console("loadEnginesAsync entered");
    m_log.info("Engine load — starting");
    m_deps.appState->engineStatus.set(WhisperStatus::loading());
    load([](std::optional<std::string>) {});
}

void Bootstrap::load(std::function<void(std::optional<std::string>)> done) {
    const uint64_t generation = ++m_loadGeneration;
    std::weak_ptr<Bootstrap> weak = weak_from_this();
    MainQueue* mainQueue = m_deps.mainQueue;
    // Publishes on the main thread, unless a newer load has started since.
    auto publish = [weak, mainQueue, generation, done](std::function<void(Bootstrap&)> apply,
                                                       std::optional<std::string> error) {
        mainQueue->post([weak, generation, done, apply = std::move(apply), error] {
            auto self = weak.lock();
            if (!self || generation != self->m_loadGeneration) {
                return;
            }
            apply(*self);
            done(error);
        });
    };
    auto slotsNeedingModels = m_deps.slotsNeedingModels;
    auto resolveSlot = m_deps.resolveSlot;
    auto loadEngine = m_deps.loadEngine;
    m_deps.loader->execute([publish, slotsNeedingModels, resolveSlot, loadEngine] {
        const Logger log{"Bootstrap"};
        const std::vector<ModelSlot> missing = slotsNeedingModels();
        if (!missing.empty()) {
            const std::set<ModelSlot> slots(missing.begin(), missing.end());
            publish(
                [slots](Bootstrap& self) {
                    self.m_deps.appState->engineStatus.set(WhisperStatus::needsModels(slots));
                },
                "models missing: " + slotWords(missing));
            return;
        }
        try {
            const auto hebrewPath = resolveSlot(ModelSlot::hebrew);
            const auto multilingualPath = resolveSlot(ModelSlot::multilingual);
            log.console("resolved he=" + hebrewPath.string() +
                        " multi=" + multilingualPath.string());
            // The two models load side by side: each takes seconds.
            auto hebrewLoad =
                std::async(std::launch::async, [&] { return loadEngine(hebrewPath); });
            std::shared_ptr<WhisperEngine> multilingual;
            try {
                multilingual = loadEngine(multilingualPath);
            } catch (...) {
                hebrewLoad.wait();
                throw;
            }
            std::shared_ptr<WhisperEngine> hebrew = hebrewLoad.get();
            publish(
                [hebrew, multilingual](Bootstrap& self) {
                    self.m_deps.appState->hebrewEngine = hebrew;
                    self.m_deps.appState->multilingualEngine = multilingual;
                    self.m_deps.appState->engineStatus.set(WhisperStatus::ready());
                    self.m_log.console("both engines published, status=.ready");
                    self.m_log.info("Engine load — both ready");
                    if (self.m_onEngineReady) {
                        self.m_onEngineReady();
                    }
                },
                std::nullopt);
        } catch (const ModelLocatorError& error) {
            const std::vector<ModelSlot> slots = {error.slot()};
            const std::string description = error.what();
            publish(
                [slots, description](Bootstrap& self) {
                    self.m_log.info("Engine load — needsModels: %{public}s (%{public}s)",
                                    slotWords(slots), description);
                    self.m_deps.appState->engineStatus.set(WhisperStatus::needsModels(
                        std::set<ModelSlot>(slots.begin(), slots.end())));
                },
                description);
        } catch (const std::exception& error) {
            const std::string description = error.what();
            publish(
                [description](Bootstrap& self) {
                    self.m_log.console("load FAILED: " + description);
                    self.m_log.info("Engine load — failed: %{public}s", description);
                    self.m_deps.appState->engineStatus.set(WhisperStatus::failed(description));
                },
                description);
        }
    });
}

void Bootstrap::performReset() {
    m_log.info("performReset starting");
    m_log.console("performReset starting");
    if (auto pipeline = m_deps.pipeline.lock()) {
        pipeline->stopEverything();
        pipeline->forceMode(AppMode::idle);
    }
    m_deps.appState->engineStatus.set(WhisperStatus::loading());
    std::weak_ptr<Bootstrap> weak = weak_from_this();
    load([weak](std::optional<std::string> error) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (error) {
            self->m_log.info("performReset failed: %{public}s", *error);
            self->m_log.console("performReset FAILED: " + *error);
            return;
        }
        if (auto pipeline = self->m_deps.pipeline.lock()) {
            pipeline->prepareForCapture();
        }
        self->m_deps.appState->lastResetTime.set(self->m_deps.mainQueue->now());
        self->m_log.info("performReset complete");
        self->m_log.console("performReset complete");
    });
}

}  // namespace velmarune
