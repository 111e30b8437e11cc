// The first-run steps: on a new installation the requirements window picks
// the models, and their downloads start with a window that follows them.

#include <vector>

#include "hotkeys/HotkeyBindings.h"
#include "requirements/HardwareCheck.h"
#include "shell/AppDelegate.h"
#include "shell/AppGraph.h"
#include "shell/DesktopFacts.h"

namespace velmarune {

void AppDelegate::presentRequirementsThen(std::function<void()> next) {
    AppGraph& g = *m_graph;
    // Once per installation, before its first dictation: a user who quits
    // here sees the window again at the next start. Slots that already have
    // their models (set up from the terminal) leave nothing to choose.
    if (g.defaults.boolValue("didFirstRunBootstrap").value_or(false) ||
        g.locator.slotsNeedingModels().empty()) {
        next();
        return;
    }
    g.machineFacts = makeDesktopFacts(g.captureSession, 1.0);
    g.hardwareCheck = std::make_unique<HardwareCheckModel>([&g] {
        CheckReport report =
            runHardwareCheck(*g.machineFacts, g.locator, resourcesFolder() / "requirements.json");
        g.log.info("requirements check: %{public}s", checkOutcomeRawValue(report.outcome));
        return report;
    });
    g.requirementsWindow = std::make_unique<RequirementsWindow>(
        *g.hardwareCheck,
        [this, &g, next] {
            const CheckReport report = g.hardwareCheck->report().get();
            g.requirementsWindow->close();
            g.locator.seedUnassignedSlots(report.hebrewModelID, report.multilingualModelID);
            startFirstDownloads();
            next();
        },
        [this] { requestQuit(); });
    g.log.info("requirements window shown (%{public}s)",
               checkOutcomeRawValue(g.hardwareCheck->report().get().outcome));
    g.requirementsWindow->show();
    g.requirementsWindow->raise();
    g.requirementsWindow->activateWindow();
}

void AppDelegate::startFirstDownloads() {
    AppGraph& g = *m_graph;
    std::vector<ModelEntry> missing;
    for (ModelSlot slot : g.locator.slotsNeedingModels()) {
        if (auto entry = g.locator.activeEntry(slot); entry && !g.locator.isInstalled(*entry)) {
            missing.push_back(*entry);
        }
    }
    if (missing.empty()) {
        return;
    }
    for (const ModelEntry& entry : missing) {
        g.downloads->start(entry);
    }
    g.downloadWindow = std::make_unique<ModelDownloadWindow>(
        *g.downloads, g.locator, missing,
        "The speech models are in place. Once Velmarune has loaded them, hold " +
            HotkeyBindings::load(g.defaults).pushToTalk.symbols() + ", speak, and let go.");
    g.downloadWindow->show();
}

}  // namespace velmarune
