#include "shell/ModelsCommand.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "foundation/ByteCount.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoopMainQueue.h"
#include "models/ModelLocator.h"
#include "shell/CommandLine.h"

namespace velmarune {

namespace {

std::atomic<bool> g_interrupted{false};

void onInterrupt(int) {
    g_interrupted = true;
}

// Catches Ctrl-C for the life of a download, so it can be cancelled cleanly.
class InterruptGuard {
  public:
    InterruptGuard() {
        g_interrupted = false;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previous);
    }
    ~InterruptGuard() { ::sigaction(SIGINT, &m_previous, nullptr); }

  private:
    struct sigaction m_previous {};
};

std::string progressBar(double fraction, int64_t totalBytes) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kWidth - filled), '-') + "]";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
    return bar + " " + percent + "  " +
           formatByteCount(static_cast<int64_t>(fraction * static_cast<double>(totalBytes))) +
           " of " + formatByteCount(totalBytes);
}

}  // namespace

ModelsCommand::ModelsCommand(Environment environment) : m_env(std::move(environment)) {}

int ModelsCommand::main(const std::vector<std::string>& args) {
    // What escapes is said in the user's words, not the library's.
    try {
        const Paths paths = Paths::fromEnvironment();
        FileUserDefaults defaults(paths.settingsFile(), reportSettingsProblem);
        return ModelsCommand(
                   Environment{paths, defaults, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1})
            .run(args);
    } catch (const std::bad_alloc&) {
        std::cerr << "velmarune models: not enough memory\n";
    } catch (const std::filesystem::filesystem_error& error) {
        std::cerr << "velmarune models: " << error.path1().string() << ": "
                  << error.code().message() << "\n";
    } catch (const std::exception& error) {
        std::cerr << "velmarune models: " << error.what() << "\n";
    }
    return 1;
}

int ModelsCommand::run(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "list") {
        return args.size() <= 1 ? list() : usage(m_env.err, 2);
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        return usage(m_env.out, 0);
    }
    if (args[0] == "download" && args.size() == 4 && args[2] == "--from") {
        return download(args[1], args[3]);
    }
    if ((args[0] == "download" || args[0] == "use") && args.size() == 2) {
        return args[0] == "download" ? download(args[1], std::nullopt) : use(args[1]);
    }
    return usage(m_env.err, 2);
}

int ModelsCommand::usage(std::ostream& out, int status) {
    out << "usage: velmarune models [list]\n"
           "       velmarune models download ID [--from BASE-URL]\n"
           "       velmarune models use ID\n"
           "\n"
           "Lists the speech models, downloads and verifies one, or makes an installed\n"
           "model the one its slot (Hebrew or Multilingual) uses.\n"
           "\n"
           "--from downloads from a mirror that serves each model under its installed\n"
           "file name (BASE-URL/ID.bin); the setting "
        << kModelMirrorKey
        << " does the same for\n"
           "every download. Over https, or http from this computer only; every file is\n"
           "checked against the catalogue's SHA-256 digest wherever it comes from.\n";
    return status;
}

int ModelsCommand::unknownModel(const std::string& id) {
    m_env.err << "velmarune models: unknown model '" << id << "'. Known models:";
    for (const auto& entry : m_env.catalog.entries()) {
        m_env.err << " " << entry.id;
    }
    m_env.err << "\n";
    return 2;
}

int ModelsCommand::list() {
    ModelLocator locator(m_env.defaults, m_env.paths, m_env.catalog);
    auto& out = m_env.out;
    out << "Models folder: " << locator.modelsFolder().string() << "\n\n";
    size_t idWidth = 2;
    for (const auto& entry : m_env.catalog.entries()) {
        idWidth = std::max(idWidth, entry.id.size());
    }
    out << std::left << "  " << std::setw(static_cast<int>(idWidth) + 2) << "ID" << std::setw(9)
        << "SIZE" << std::setw(15) << "STATE"
        << "SLOT\n";
    for (const auto& entry : m_env.catalog.entries()) {
        std::string slots;
        for (ModelSlot slot : kAllModelSlots) {
            if (locator.isActive(entry, slot)) {
                slots += (slots.empty() ? "" : ", ") + modelSlotDisplayWord(slot);
            }
        }
        out << "  " << std::setw(static_cast<int>(idWidth) + 2) << entry.id << std::setw(9)
            << formatByteCount(entry.fileSizeBytes) << std::setw(15)
            << (locator.isInstalled(entry) ? "installed" : "not installed")
            << (slots.empty() ? "-" : slots) << "\n";
        out << "    " << entry.displayName << ": " << entry.description << "\n";
    }

    out << "\nSlots:\n";
    for (ModelSlot slot : kAllModelSlots) {
        out << "  " << std::setw(14) << modelSlotDisplayWord(slot);
        if (auto active = locator.activeEntry(slot)) {
            out << active->id << "\n";
        } else if (auto path = locator.assignedPath(slot)) {
            out << *path << " (not from the catalogue)\n";
        } else {
            out << "unassigned\n";
        }
    }
    const auto needing = locator.slotsNeedingModels();
    if (needing.empty()) {
        out << "\nBoth slots have a model.\n";
        return 0;
    }
    out << "\nStill needing a model:\n";
    for (ModelSlot slot : needing) {
        out << "  " << modelSlotDisplayWord(slot) << ": ";
        try {
            locator.resolve(slot);
            // Resolves only after tilde expansion: usable by the engines, yet
            // listed here because the stored path is not the file itself.
            out << "the path " << *locator.assignedPath(slot) << " must be written out in full\n";
        } catch (const ModelLocatorError& error) {
            out << error.what() << "\n";
        }
        const auto candidates = locator.entries(slot);
        if (!candidates.empty()) {
            out << "    download one with: velmarune models download " << candidates.front().id
                << ", then: velmarune models use " << candidates.front().id << "\n";
        }
    }
    return 0;
}

int ModelsCommand::download(const std::string& id, const std::optional<std::string>& mirror) {
    auto entry = m_env.catalog.entry(id);
    if (!entry) {
        return unknownModel(id);
    }
    ModelLocator locator(m_env.defaults, m_env.paths, m_env.catalog);
    if (mirror) {
        locator.useMirror(*mirror);
    }
    RunLoopMainQueue queue;
    NotificationCenter notifications(queue);
    ModelDownloadManager manager(queue, notifications, locator, m_env.freeSpace);
    auto& out = m_env.out;

    bool installed = false;
    std::optional<std::string> failure;
    int lastTenth = -1;
    bool verifying = false;
    bool barShown = false;
    auto finishLine = [&] {
        if (barShown && m_env.interactive) {
            out << "\n";
        }
        barShown = false;
    };
    Subscription completion =
        notifications.observe(kModelDownloadCompletedNotification,
                              [&](const std::string& done) { installed = done == id; });
    Subscription progress =
        manager.states().subscribe([&](const ModelDownloadManager::States& all) {
            auto it = all.find(id);
            if (it == all.end()) {
                return;
            }
            const DownloadState& state = it->second;
            if (state.error) {
                failure = state.error;
                return;
            }
            if (state.isVerifying && !verifying) {
                verifying = true;
                finishLine();
                out << "Verifying the SHA-256 digest…\n" << std::flush;
                return;
            }
            if (verifying) {
                return;
            }
            if (m_env.interactive) {
                out << "\r" << progressBar(state.fractionCompleted, entry->fileSizeBytes)
                    << std::flush;
                barShown = true;
            } else if (const int tenth = static_cast<int>(state.fractionCompleted * 10.0);
                       tenth != lastTenth) {
                lastTenth = tenth;
                out << progressBar(state.fractionCompleted, entry->fileSizeBytes) << "\n"
                    << std::flush;
            }
        });

    const std::string source = locator.downloadURL(*entry);
    out << "Downloading " << entry->displayName << " (" << formatByteCount(entry->fileSizeBytes)
        << ")" << (source != entry->downloadURL ? " from " + source : std::string()) << " to "
        << locator.installPath(*entry).string() << "\n"
        << std::flush;
    InterruptGuard interrupts;
    manager.start(*entry);
    // The transfer gives up by itself on a stalled server, so this ends.
    while (!installed && !failure) {
        queue.runUntil([&] { return installed || failure || g_interrupted; }, 0.5);
        if (g_interrupted) {
            manager.cancel(*entry);
            finishLine();
            m_env.err << "velmarune models: download of " << id << " cancelled\n";
            return 130;
        }
    }
    finishLine();
    if (failure) {
        m_env.err << "velmarune models: download of " << id << " failed: " << *failure << "\n";
        return 1;
    }
    out << "Installed " << id << " at " << locator.installPath(*entry).string() << "\n";
    for (ModelSlot slot : kAllModelSlots) {
        if (modelSlotLanguageTag(slot) == entry->languageTag && !locator.isActive(*entry, slot)) {
            out << "Use it with: velmarune models use " << id << "\n";
        }
    }
    return 0;
}

int ModelsCommand::use(const std::string& id) {
    auto entry = m_env.catalog.entry(id);
    if (!entry) {
        return unknownModel(id);
    }
    ModelLocator locator(m_env.defaults, m_env.paths, m_env.catalog);
    if (!locator.isInstalled(*entry)) {
        m_env.err << "velmarune models: " << id << " is not installed. Download it first: "
                  << "velmarune models download " << id << "\n";
        return 1;
    }
    for (ModelSlot slot : kAllModelSlots) {
        if (modelSlotLanguageTag(slot) == entry->languageTag) {
            if (!locator.assign(*entry, slot)) {
                m_env.err << "velmarune models: the settings were not saved; the "
                          << modelSlotDisplayWord(slot) << " slot is unchanged\n";
                return 1;
            }
            m_env.out << modelSlotDisplayWord(slot) << " slot now uses " << entry->displayName
                      << " (" << locator.installPath(*entry).string() << ")\n";
            return 0;
        }
    }
    m_env.err << "velmarune models: no slot accepts " << id << "\n";
    return 1;
}

}  // namespace velmarune
