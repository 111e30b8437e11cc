// The views' cost, in a private desktop (Xvfb, openbox, a tray host):
// - show call -> heads-up display mapped and exposed, median of 50;
// - resident memory the views add to a Qt application (tray icon, display,
//   queue panel and didn't-paste panel each shown once);
// - idle CPU with the tray icon shown, in this process over 20 s, and of the
//   real application (no models, so only its views and listeners) over 30 s.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessCost.h"
#include "QtBench.h"
#include "app/AppState.h"
#include "delivery/DidntPasteList.h"
#include "foundation/UserDefaults.h"
#include "integration/ui/QtPump.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/XRig.h"
#include "ui/DesktopViews.h"
#include "ui/HeadsUpDisplay.h"
#include "ui/StatusMenu.h"

using namespace velmarune;
using namespace velmarune::testing;
using namespace velmarune::bench;
using Clock = std::chrono::steady_clock;

namespace {

QWidget* windowTitled(const QString& title) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowTitle() == title) {
            return widget;
        }
    }
    return nullptr;
}

}  // namespace

int main() {
    XRig x;
    if (!x.ok()) {
        std::fprintf(stderr, "no private X server (xvfb, openbox)\n");
        return 1;
    }
    ChildProcess tray({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                       "--height", "28", "--SetDockType", "true", "--SetPartialStrut", "true"});
    std::this_thread::sleep_for(std::chrono::seconds(1));

    BenchQtApp qt;
    auto& queue = qt.queue;
    pumpFor(0.5);
    const long baseKiB = residentKiB(getpid());

    auto state = std::make_shared<AppState>();
    MemoryUserDefaults defaults;
    DesktopViews views({queue, state, defaults, [](const std::string&) {}, [] {}});
    views.start();
    auto list = std::make_shared<DidntPasteList>(views.didntPastePresenter());
    if (!pumpUntil([&] { return views.statusMenu().trayIcon().geometry().width() > 0; }, 10.0)) {
        std::fprintf(stderr, "the tray host did not embed the icon\n");
    }

    // Show -> mapped, 50 times; each display is dismissed and gone first.
    const QString text = QStringLiteral("Hello world. This is what the last dictation said.");
    views.hud().show(text.toStdString(), true, 30.0);  // creates the window
    pumpFor(0.3);
    QWidget* hud = windowTitled(text);
    if (!hud || !hud->windowHandle()) {
        std::fprintf(stderr, "no heads-up display window\n");
        return 1;
    }
    ExposeWatch watch;
    hud->windowHandle()->installEventFilter(&watch);
    std::vector<double> latenciesMs;
    for (int i = 0; i < 50; ++i) {
        views.hud().dismissNow();
        pumpUntil([&] { return !hud->isVisible(); }, 2.0);
        pumpFor(0.02);
        watch.exposed = false;
        const auto start = Clock::now();
        views.hud().show(text.toStdString(), true, 30.0);
        if (pumpUntil([&] { return watch.exposed; }, 2.0)) {
            latenciesMs.push_back(
                std::chrono::duration<double, std::milli>(watch.exposedAt - start).count());
        }
    }
    hud->windowHandle()->removeEventFilter(&watch);
    views.hud().dismissNow();
    std::sort(latenciesMs.begin(), latenciesMs.end());
    if (!latenciesMs.empty()) {
        std::printf("show -> heads-up display exposed: median %.1f ms, max %.1f ms (%zu runs)\n",
                    latenciesMs[latenciesMs.size() / 2], latenciesMs.back(), latenciesMs.size());
    }

    // Every surface once, then memory and idle CPU.
    state->queuedDictations.set(2);
    state->mode.set(AppMode::dictating);
    list->show(DidntPastePrompt{"Meet me at the station at five.", std::nullopt, {}, {}});
    views.statusMenu().menu().popup(QPoint(900, 30));
    pumpFor(1.0);
    views.statusMenu().menu().hide();
    list->close();
    state->mode.set(AppMode::idle);
    state->queuedDictations.set(0);
    pumpFor(1.0);
    const long viewsKiB = residentKiB(getpid());
    std::printf("resident memory: Qt application %.1f MiB, with the views %.1f MiB (+%.1f MiB)\n",
                baseKiB / 1024.0, viewsKiB / 1024.0, (viewsKiB - baseKiB) / 1024.0);

    const double cpuBefore = processCpuSeconds();
    QTimer::singleShot(20000, &qt.app, &QApplication::quit);
    QApplication::exec();
    std::printf("idle with the tray icon, this process: CPU %.3f %% of one core over 20 s\n",
                100.0 * (processCpuSeconds() - cpuBefore) / 20.0);

    // The real application beside the tray host, without models: it waits.
    TempDir home("velmarune-ui-bench");
    const std::string binary = std::string(VELMARUNE_BINARY_DIR) + "/src/shell/velmarune";
    ChildProcess application({binary}, {{"HOME", home.path().string()},
                                        {"XDG_CONFIG_HOME", (home / "config").string()},
                                        {"XDG_DATA_HOME", (home / "data").string()},
                                        {"XDG_STATE_HOME", (home / "state").string()},
                                        {"XDG_RUNTIME_DIR", x.runtimeDir().string()}});
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const long ticksBefore = cpuTicks(application.pid());
    std::this_thread::sleep_for(std::chrono::seconds(30));
    const long ticks = cpuTicks(application.pid()) - ticksBefore;
    std::printf(
        "idle application with the tray icon: CPU %.3f %% of one core over 30 s, RSS %.1f MiB\n",
        100.0 * static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / 30.0,
        residentKiB(application.pid()) / 1024.0);
    application.stop(5.0);
    return 0;
}
