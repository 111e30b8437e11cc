#include "ui/DesktopAnimations.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <sstream>

namespace velmarune {

namespace {
std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}
}  // namespace

std::optional<bool> DesktopAnimations::parseGnome(const std::string& output) {
    const std::string value = trimmed(output);
    if (value == "true") {
        return true;
    }
    if (value == "false") {
        return false;
    }
    return std::nullopt;
}

std::optional<bool> DesktopAnimations::parseKde(const std::string& kdeglobals) {
    std::istringstream lines(kdeglobals);
    std::string line;
    bool inKde = false;
    std::optional<bool> result;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (!line.empty() && line.front() == '[') {
            inKde = line == "[KDE]";
            continue;
        }
        const auto equals = line.find('=');
        if (!inKde || equals == std::string::npos ||
            trimmed(line.substr(0, equals)) != "AnimationDurationFactor") {
            continue;
        }
        try {
            size_t used = 0;
            const std::string number = trimmed(line.substr(equals + 1));
            const double factor = std::stod(number, &used);
            if (used == number.size()) {
                result = factor > 0.0;
            }
        } catch (const std::exception&) {
            // A value that is no number says nothing.
        }
    }
    return result;
}

void DesktopAnimations::refresh() {
    const QString kdeglobals =
        QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
    if (!kdeglobals.isEmpty()) {
        QFile file(kdeglobals);
        if (file.open(QIODevice::ReadOnly)) {
            m_kde = parseKde(file.read(1 << 20).toStdString());
        }
    }
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (gsettings.isEmpty()) {
        return;
    }
    auto* process = new QProcess(this);
    connect(process, &QProcess::finished, this,
            [this, process](int code, QProcess::ExitStatus status) {
                if (status == QProcess::NormalExit && code == 0) {
                    m_gnome = parseGnome(process->readAllStandardOutput().toStdString());
                }
                process->deleteLater();
            });
    connect(process, &QProcess::errorOccurred, process, &QObject::deleteLater);
    QTimer::singleShot(2000, process, [process] { process->kill(); });  // a hung settings daemon
    process->start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                               QStringLiteral("enable-animations")});
}

}  // namespace velmarune
