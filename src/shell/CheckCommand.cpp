#include "shell/CheckCommand.h"

#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "foundation/Log.h"
#include "foundation/Resources.h"
#include "foundation/RunLoopMainQueue.h"
#include "models/ModelLocator.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "requirements/CheckPresentation.h"
#include "requirements/HardwareCheck.h"
#include "shell/DesktopBackends.h"
#include "shell/DesktopFacts.h"

namespace velmarune {

namespace {

// Only the rules file's complaints belong on a terminal: the sound server's
// reconnection chatter does not.
class RequirementsLogSink : public LogSink {
  public:
    void write(const LogRecord& record) override {
        if (record.category == "Requirements" && record.level == LogLevel::error) {
            std::cerr << "velmarune check: " << record.message << "\n";
        }
    }
};

int exitStatus(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::pass:
            return CheckCommand::kPass;
        case CheckOutcome::warn:
            return CheckCommand::kWarn;
        case CheckOutcome::block:
            break;
    }
    return CheckCommand::kBlock;
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Breaks `text` into lines of at most `width` characters, each indented.
std::string wrapped(const std::string& text, size_t indent, size_t width) {
    std::string result;
    std::string line;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            result += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) {
        result += std::string(indent, ' ') + line + "\n";
    }
    return result;
}

}  // namespace

CheckCommand::CheckCommand(Environment environment) : m_env(std::move(environment)) {}

int CheckCommand::main(const std::vector<std::string>& args) {
    const Paths paths = Paths::fromEnvironment();
    FileUserDefaults defaults(paths.settingsFile());
    RunLoopMainQueue queue;
    PulseCaptureSession session(queue);
    session.start();
    // A local sound server answers in milliseconds; two seconds is for a busy one.
    auto facts = makeDesktopFacts(session, 2.0);
    ScopedLogSink sink(std::make_shared<RequirementsLogSink>());
    return CheckCommand({paths, defaults, std::cout, std::cerr, *facts,
                         resourcesFolder() / "requirements.json", ModelCatalog::standard(),
                         [&defaults] {
                             return chooseBackends(probeDesktopSession(),
                                                   PasteShortcut::load(defaults));
                         }})
        .run(args);
}

int CheckCommand::run(const std::vector<std::string>& args) {
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (arg == "--help" || arg == "-h") {
            m_env.out << "usage: velmarune check [--json]\n"
                         "\n"
                         "Checks whether this computer can run Velmarune and which speech\n"
                         "models suit it. Exit status: 0 ready, 1 ready with warnings,\n"
                         "2 blocked, 64 usage error.\n";
            return kPass;
        } else {
            m_env.err << "velmarune check: unknown argument '" << arg
                      << "'\nusage: velmarune check [--json]\n";
            return kUsage;
        }
    }
    ModelLocator locator(m_env.defaults, m_env.paths, m_env.catalog);
    const CheckReport report = runHardwareCheck(m_env.facts, locator, m_env.rulesFile);
    auto installed = [&](const std::string& id) {
        const auto entry = m_env.catalog.entry(id);
        return entry && locator.isInstalled(*entry);
    };
    const std::vector<ServiceChoice> backends =
        m_env.desktopBackends ? m_env.desktopBackends() : std::vector<ServiceChoice>{};
    const std::pair<std::string, std::string> slots[] = {
        {"Hebrew", report.hebrewModelID}, {"Multilingual", report.multilingualModelID}};

    if (json) {
        nlohmann::json lines = nlohmann::json::array();
        for (const CheckLine& line : report.lines) {
            lines.push_back({{"item", checkItemRawValue(line.item)},
                             {"outcome", checkOutcomeRawValue(line.outcome)},
                             {"value", line.value},
                             {"detail", line.detail}});
        }
        nlohmann::json models = nlohmann::json::object();
        for (const auto& [slot, id] : slots) {
            models[slot == "Hebrew" ? "hebrew" : "multilingual"] = {{"id", id},
                                                                    {"installed", installed(id)}};
        }
        nlohmann::json document{{"outcome", checkOutcomeRawValue(report.outcome)},
                                {"lines", lines},
                                {"models", models}};
        if (!backends.empty()) {
            document["backends"] = nlohmann::json::array();
            for (const ServiceChoice& choice : backends) {
                document["backends"].push_back({{"service", desktopServiceName(choice.service)},
                                                {"backend", desktopBackendRawValue(choice.backend)},
                                                {"description", choice.description},
                                                {"problem", choice.problem}});
            }
        }
        m_env.out << document.dump(2) << "\n";
        return exitStatus(report.outcome);
    }

    auto& out = m_env.out;
    out << checkHeadline(report.outcome) << "\n" << checkSubtitle(report) << "\n\n";
    for (const CheckLine& line : report.lines) {
        out << "  " << std::left << std::setw(7) << upper(checkOutcomeRawValue(line.outcome))
            << std::setw(17) << checkItemLabel(line.item) << line.value << "\n";
        if (!line.detail.empty()) {
            out << wrapped(line.detail, 24, 56);
        }
    }
    if (!backends.empty()) {
        out << "\nDesktop services in this session:\n";
        for (const ServiceChoice& choice : backends) {
            out << "  " << std::setw(17) << desktopServiceName(choice.service) << choice.description
                << "\n";
            if (!choice.problem.empty()) {
                out << wrapped(choice.problem, 19, 61);
            }
        }
    }
    out << "\nModels for this computer:\n";
    std::vector<std::string> missing;
    for (const auto& [slot, id] : slots) {
        const bool present = installed(id);
        out << "  " << std::setw(14) << slot << id
            << (present ? " (installed)" : " (not installed)") << "\n";
        if (!present && m_env.catalog.entry(id)) {
            missing.push_back(id);
        }
    }
    if (report.outcome != CheckOutcome::block && !missing.empty()) {
        out << "\nDownload them with:\n";
        for (const std::string& id : missing) {
            out << "  velmarune models download " << id << " && velmarune models use " << id
                << "\n";
        }
    }
    out << "\n" << kCheckFootnote << "\n";
    return exitStatus(report.outcome);
}

}  // namespace velmarune
