#pragma once

#include <QApplication>
#include <chrono>
#include <functional>
#include <thread>

namespace velmarune::testing {

// Pumps the Qt event loop (and the main queue on it) until `done` holds or
// `seconds` pass; false on timeout.
inline bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

}  // namespace velmarune::testing
