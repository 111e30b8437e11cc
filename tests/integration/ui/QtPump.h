#pragma once

#include <QApplication>
#include <functional>

#include "support/Process.h"

namespace velmarune::testing {

// Pumps the Qt event loop (and the main queue on it) until `done` holds or
// `seconds` pass; false on timeout.
inline bool pumpUntil(const std::function<bool()>& done, double seconds) {
    return waitUntil(
        [&] {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            return done();
        },
        seconds, 0.005);
}

inline void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

}  // namespace velmarune::testing
