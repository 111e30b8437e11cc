#include "requirements/RequirementsCheck.h"

#include <algorithm>
#include <cstdio>

namespace velmarune {

namespace {

using Item = CheckLine::Item;

constexpr double kBytesPerMemoryGB = 1073741824.0;
constexpr double kBytesPerDiskGB = 1e9;

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

bool listed(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

CheckOutcome outcomeFor(const Requirements::OutcomeLists& lists, const std::string& name) {
    if (listed(lists.block, name)) {
        return CheckOutcome::block;
    }
    return listed(lists.warn, name) ? CheckOutcome::warn : CheckOutcome::pass;
}

std::string processorValue(const SystemFacts::Processor& processor) {
    std::string value = !processor.modelName.empty() ? processor.modelName : processor.architecture;
    if (processor.logicalCores > 0) {
        value += (value.empty() ? "" : ", ") + std::to_string(processor.logicalCores) +
                 (processor.logicalCores == 1 ? " core" : " cores");
    }
    return value.empty() ? "Unknown" : value;
}

CheckLine processorLine(const SystemFacts::Processor& processor, const Requirements* rules) {
    CheckLine line{Item::processor, CheckOutcome::pass, processorValue(processor), ""};
    if (!rules) {
        return line;
    }
    const std::string name = processorClass(processor);
    line.outcome = outcomeFor(rules->processor, name);
    if (line.outcome == CheckOutcome::warn) {
        line.detail = name == "x86-64"
                          ? "Processors without AVX2 and FMA transcribe more slowly, so Velmarune "
                            "will use the lighter Hebrew model."
                          : "This processor transcribes more slowly, so Velmarune will use the "
                            "lighter Hebrew model.";
    } else if (line.outcome == CheckOutcome::block) {
        // No lighter model helps here: saying one will be used would promise a start.
        line.detail = "Velmarune's speech models cannot run on this processor (" + name + ").";
    }
    return line;
}

CheckLine memoryLine(const std::optional<uint64_t>& bytes, const Requirements* rules) {
    if (!bytes) {
        return {Item::memory, CheckOutcome::pass, "Unknown",
                rules ? "Linux did not report the memory size." : ""};
    }
    const double gb = static_cast<double>(*bytes) / kBytesPerMemoryGB;
    CheckLine line{Item::memory, CheckOutcome::pass, format("%.0f GB", gb), ""};
    if (!rules) {
        return line;
    }
    if (rules->ram.blockBelowGB && gb < static_cast<double>(*rules->ram.blockBelowGB)) {
        line.outcome = CheckOutcome::block;
        line.detail = "Velmarune needs at least " + std::to_string(*rules->ram.blockBelowGB) +
                      " GB of memory.";
    } else if (rules->ram.warnBelowGB && gb < static_cast<double>(*rules->ram.warnBelowGB)) {
        line.outcome = CheckOutcome::warn;
        line.detail =
            "Velmarune will use the lighter Hebrew model, ivrit-ai large-v3-turbo, which runs "
            "well with less memory.";
    }
    return line;
}

// What the set still needs on disk: nothing once every model of it is
// installed, otherwise the missing files plus the margin.
int64_t spaceNeeded(const std::vector<std::string>& set, const Requirements& rules,
                    const std::set<std::string>& installedIDs, const ModelCatalog& catalog) {
    int64_t missing = 0;
    bool any = false;
    for (const ModelEntry& entry : catalog.entries()) {
        if (listed(set, entry.id) && !installedIDs.contains(entry.id)) {
            missing += entry.fileSizeBytes;
            any = true;
        }
    }
    return any ? rules.disk.marginBytes + missing : 0;
}

CheckLine diskLine(const std::optional<int64_t>& freeBytes, const Requirements* rules,
                   const std::set<std::string>& installedIDs, const ModelCatalog& catalog) {
    if (!freeBytes) {
        return {Item::disk, CheckOutcome::pass, "Unknown",
                rules ? "The file system did not report its free space." : ""};
    }
    const std::string amount = format("%.1f GB", static_cast<double>(*freeBytes) / kBytesPerDiskGB);
    if (!rules) {
        return {Item::disk, CheckOutcome::pass, amount, ""};
    }
    CheckLine line{Item::disk, CheckOutcome::pass, amount + " free", ""};
    const int64_t blockNeed = spaceNeeded(rules->disk.blockModelSet, *rules, installedIDs, catalog);
    const int64_t warnNeed = spaceNeeded(rules->disk.warnModelSet, *rules, installedIDs, catalog);
    if (*freeBytes < blockNeed) {
        line.outcome = CheckOutcome::block;
        line.detail = "Velmarune needs " +
                      format("%.1f GB", static_cast<double>(blockNeed) / kBytesPerDiskGB) +
                      " free for its speech models. Free up some space and check again.";
    } else if (*freeBytes < warnNeed) {
        line.outcome = CheckOutcome::warn;
        line.detail = "Not enough room for the full Hebrew model (" +
                      format("%.1f GB", static_cast<double>(warnNeed) / kBytesPerDiskGB) +
                      " needed), so Velmarune will use the lighter one.";
    }
    return line;
}

std::string sessionValue(const SystemFacts::Session& session, const std::string& name) {
    std::string value;
    if (name == "x11") {
        value = "X11";
    } else if (name == "xwayland" || name == "wayland") {
        value = "Wayland";
    } else {
        value = "No display";
    }
    if (!session.desktop.empty() && name != "none") {
        value += " (" + session.desktop + ")";
    }
    if (name == "xwayland") {
        value += ", through XWayland";
    }
    return value;
}

std::string sessionDetail(const std::string& name) {
    if (name == "xwayland") {
        return "In a Wayland session Velmarune hears the push-to-talk keys and pastes into "
               "every application only where the compositor and the input devices allow it; "
               "elsewhere only while an X11 application has the keyboard focus. \"velmarune "
               "check\" lists which backend serves each service and what to change, or choose "
               "an X11 (Xorg) session on the login screen.";
    }
    if (name == "wayland") {
        return "Velmarune needs an X11 display, and this Wayland session runs no XWayland. "
               "Choose an X11 (Xorg) session on the login screen, or turn XWayland on, then "
               "check again.";
    }
    if (name == "none") {
        return "No X11 or Wayland display could be reached. Velmarune runs inside a graphical "
               "desktop session: run it from there, not over ssh or a text console.";
    }
    return "Velmarune does not support this desktop session.";
}

CheckLine sessionLine(const SystemFacts::Session& session, const Requirements* rules) {
    const std::string name = sessionClass(session);
    CheckLine line{Item::session, CheckOutcome::pass, sessionValue(session, name), ""};
    if (rules) {
        line.outcome = outcomeFor(rules->session, name);
        if (line.outcome != CheckOutcome::pass) {
            line.detail = sessionDetail(name);
        }
    }
    return line;
}

// The same with and without rules: a missing microphone never stops the
// application, it only makes dictation fail later with its own message.
CheckLine microphoneLine(const SystemFacts::Microphone& microphone) {
    if (!microphone.serverReachable) {
        return {Item::microphone, CheckOutcome::warn, "No sound server",
                "Velmarune could not reach the sound server (PipeWire or PulseAudio). Log in to "
                "a desktop session with sound, or start the sound service, then check again."};
    }
    if (microphone.sourceCount == 0) {
        return {Item::microphone, CheckOutcome::warn, "No microphone found",
                "Plug in a microphone or headset, or turn on an input in the sound settings, "
                "then check again."};
    }
    return {Item::microphone, CheckOutcome::pass,
            microphone.sourceName.empty() ? "Available" : microphone.sourceName, ""};
}

}  // namespace

std::string processorClass(const SystemFacts::Processor& processor) {
    if (processor.architecture == "x86_64") {
        const bool v3 = processor.features.contains("avx2") && processor.features.contains("fma") &&
                        processor.features.contains("f16c");
        return v3 ? "x86-64-v3" : "x86-64";
    }
    if (processor.architecture == "aarch64" || processor.architecture == "arm64") {
        return "aarch64";
    }
    return processor.architecture.empty() ? "unknown" : processor.architecture;
}

std::string sessionClass(const SystemFacts::Session& session) {
    const bool wayland = session.type == "wayland" || session.waylandReachable;
    if (session.x11Reachable) {
        return wayland ? "xwayland" : "x11";
    }
    return session.waylandReachable ? "wayland" : "none";
}

CheckReport evaluateRequirements(const SystemFacts& facts, const std::optional<Requirements>& rules,
                                 const std::set<std::string>& installedIDs,
                                 const ModelCatalog& catalog) {
    const Requirements* r = rules ? &*rules : nullptr;
    CheckReport report;
    report.lines = {processorLine(facts.processor, r), memoryLine(facts.physicalMemoryBytes, r),
                    diskLine(facts.freeDiskBytes, r, installedIDs, catalog),
                    sessionLine(facts.session, r), microphoneLine(facts.microphone)};
    for (const CheckLine& line : report.lines) {
        report.outcome = std::max(report.outcome, line.outcome);
    }
    if (!r) {
        report.hebrewModelID = kFailOpenHebrewModelID;
        report.multilingualModelID = kFailOpenMultilingualModelID;
        return report;
    }
    // Only the lines a lighter model helps with change the choice.
    const bool lighter = std::any_of(report.lines.begin(), report.lines.end(), [](const auto& l) {
        return l.outcome == CheckOutcome::warn &&
               (l.item == Item::processor || l.item == Item::memory || l.item == Item::disk);
    });
    const Requirements::ModelPair& pair = lighter ? r->warnModels : r->okModels;
    report.hebrewModelID = pair.hebrew;
    report.multilingualModelID = pair.multilingual;
    return report;
}

}  // namespace velmarune
