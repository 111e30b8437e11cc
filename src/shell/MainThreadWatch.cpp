#include "shell/MainThreadWatch.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "foundation/Log.h"

namespace velmarune {

namespace {
constexpr std::chrono::milliseconds kInterval{2};
}

void watchMainThread(QObject* parent) {
    const char* value = std::getenv("VELMARUNE_MAIN_THREAD_REPORT_MS");
    const int thresholdMs = value ? std::atoi(value) : 0;
    if (thresholdMs <= 0) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    auto* timer = new QTimer(parent);
    timer->setTimerType(Qt::PreciseTimer);
    auto last = std::make_shared<Clock::time_point>(Clock::now());
    QObject::connect(timer, &QTimer::timeout, parent, [last, thresholdMs] {
        static const Logger log{"MainThread"};
        const auto now = Clock::now();
        const auto late =
            std::chrono::duration_cast<std::chrono::microseconds>(now - *last - kInterval);
        *last = now;
        if (late >= std::chrono::milliseconds(thresholdMs)) {
            log.info("main thread busy %{public}.1f ms",
                     static_cast<double>(late.count()) / 1000.0);
        }
    });
    timer->start(kInterval);
}

}  // namespace velmarune
