#pragma once

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <functional>

#include "support/Process.h"

namespace velmarune::testing {

// Pumps the Qt event loop (and the main queue on it) every `pollSeconds`
// until `done` holds or `seconds` pass; false on timeout.
inline bool pumpUntil(const std::function<bool()>& done, double seconds,
                      double pollSeconds = 0.005) {
    return waitUntil(
        [&] {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            return done();
        },
        seconds, pollSeconds);
}

inline void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

#ifdef VELMARUNE_BINARY_DIR
// Saves the whole private screen (tray and other clients included) under
// build/ui-screenshots/ for a person to look at; nothing asserts on it.
inline void screenshot(const QString& name) {
    pumpFor(0.3);
    const QString folder = QStringLiteral(VELMARUNE_BINARY_DIR "/ui-screenshots/");
    QDir().mkpath(folder);
    QGuiApplication::primaryScreen()->grabWindow(0).save(folder + name + ".png");
}
#endif

}  // namespace velmarune::testing
