#pragma once

// What the benchmarks that show Qt windows share: the application with its
// main queue, and a watch for the moment a window is exposed.
#include <QApplication>
#include <QEvent>
#include <QString>
#include <QWindow>
#include <chrono>

#include "shell/QtMainQueue.h"

namespace velmarune::testing {

// A Qt application and its main queue; the arguments live as long as it does.
class BenchQtApp {
    int argc_ = 1;
    char name_[16] = "velmarune";
    char* argv_[2] = {name_, nullptr};

  public:
    QApplication app{argc_, argv_};
    QtMainQueue queue{&app};
};

// Notes when a window it filters is first exposed; with a title, only a window
// of that title counts (for a filter on the whole application).
struct ExposeWatch : QObject {
    QString title;
    std::chrono::steady_clock::time_point exposedAt{};
    bool exposed = false;
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* window = qobject_cast<QWindow*>(object);
        if (!exposed && window && event->type() == QEvent::Expose && window->isExposed() &&
            (title.isEmpty() || window->title() == title)) {
            exposed = true;
            exposedAt = std::chrono::steady_clock::now();
        }
        return false;
    }
};

}  // namespace velmarune::testing
