#include "shell/SoftwareCentre.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "foundation/Log.h"

namespace velmarune {

namespace {

const Logger log{"Updater"};

void openAppStreamPage() {
    if (!QProcess::startDetached("xdg-open", {QString::fromUtf8(kAppStreamLink)})) {
        log.error("Could not start xdg-open for %{public}s", std::string(kAppStreamLink));
    }
}

}  // namespace

void findSoftwareCentre(QObject* owner, std::function<void(std::function<void()> open)> found,
                        double timeoutSeconds) {
    auto* probe = new QProcess(owner);
    QObject::connect(probe, &QProcess::finished, owner,
                     [probe, found](int exitCode, QProcess::ExitStatus status) {
                         const QString handler =
                             QString::fromUtf8(probe->readAllStandardOutput()).trimmed();
                         probe->deleteLater();
                         if (status != QProcess::NormalExit || exitCode != 0 || handler.isEmpty()) {
                             log.info(
                                 "No software centre handles appstream: links; updates "
                                 "come from the package manager");
                             return;
                         }
                         log.info("Check for Updates opens %{public}s", handler.toStdString());
                         found(openAppStreamPage);
                     });
    QObject::connect(probe, &QProcess::errorOccurred, owner, [probe](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {  // no xdg-utils: no finished signal follows
            log.info("xdg-mime is not installed; updates come from the package manager");
            probe->deleteLater();
        }
    });
    QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), probe, [probe] { probe->kill(); });
    probe->start("xdg-mime", {"query", "default", "x-scheme-handler/appstream"});
}

}  // namespace velmarune
