#include "shell/QtMainQueue.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace velmarune {

QtMainQueue::QtMainQueue(QObject* context) : m_context(context) {}

void QtMainQueue::post(Task task) {
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::postAfter(double delaySeconds, Task task) {
    const int ms = static_cast<int>(std::lround(std::max(0.0, delaySeconds) * 1000.0));
    QObject* context = m_context;
    auto arm = [context, ms, task = std::move(task)]() mutable {
        QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(task));
    };
    // A timer belongs to the thread that starts it: start it on the main one.
    if (QThread::currentThread() == context->thread()) {
        arm();
    } else {
        QMetaObject::invokeMethod(context, std::move(arm), Qt::QueuedConnection);
    }
}

TimePoint QtMainQueue::now() const {
    return MonotonicClock::now();
}

WallTime QtMainQueue::wallNow() const {
    return std::chrono::system_clock::now();
}

}  // namespace velmarune
