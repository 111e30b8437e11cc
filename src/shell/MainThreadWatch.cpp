#include "shell/MainThreadWatch.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "foundation/Log.h"

namespace velmarune {

namespace {
constexpr std::chrono::milliseconds kInterval{2};

std::chrono::microseconds threadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::duration_cast<std::chrono::microseconds>(
                                                  std::chrono::nanoseconds(now.tv_nsec));
}

double milliseconds(std::chrono::microseconds value) {
    return static_cast<double>(value.count()) / 1000.0;
}
}  // namespace

void watchMainThread(QObject* parent) {
    const char* value = std::getenv("VELMARUNE_MAIN_THREAD_REPORT_MS");
    const int thresholdMs = value ? std::atoi(value) : 0;
    if (thresholdMs <= 0) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    struct Last {
        Clock::time_point wall = Clock::now();
        std::chrono::microseconds cpu = threadCpuTime();
    };
    auto* timer = new QTimer(parent);
    timer->setTimerType(Qt::PreciseTimer);
    auto last = std::make_shared<Last>();
    QObject::connect(timer, &QTimer::timeout, parent, [last, thresholdMs] {
        static const Logger log{"MainThread"};
        const auto now = Clock::now();
        const auto cpu = threadCpuTime();
        const auto late =
            std::chrono::duration_cast<std::chrono::microseconds>(now - last->wall - kInterval);
        // Late without having run means the thread waited for a CPU that
        // other processes held: the time it ran is the work it did.
        const auto ran = cpu - last->cpu;
        *last = Last{now, cpu};
        if (late >= std::chrono::milliseconds(thresholdMs)) {
            log.info("main thread busy %{public}.1f ms (ran %{public}.1f ms)", milliseconds(late),
                     milliseconds(ran));
        }
    });
    timer->start(kInterval);
}

}  // namespace velmarune
