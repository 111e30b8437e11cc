#include "requirements/HardwareCheck.h"

#include "requirements/RequirementsCheck.h"

namespace velmarune {

CheckReport runHardwareCheck(MachineFacts& facts, const ModelLocator& locator,
                             const std::filesystem::path& rulesFile) {
    std::set<std::string> installed;
    for (const ModelEntry& entry : locator.catalog().entries()) {
        if (locator.isInstalled(entry)) {
            installed.insert(entry.id);
        }
    }
    const SystemFacts now = facts.gather(locator.modelsFolder());
    return evaluateRequirements(now, loadRequirements(rulesFile, locator.catalog()), installed,
                                locator.catalog());
}

}  // namespace velmarune
