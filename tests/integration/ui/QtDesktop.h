#pragma once

#include <gtest/gtest.h>

#include <QWindow>
#include <memory>

#include "QtPump.h"
#include "shell/QtMainQueue.h"
#include "support/XRig.h"

namespace velmarune::testing {

// A private X server with a window manager, and a Qt application with its
// main queue in this process.
class QtDesktop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        app = std::make_unique<QApplication>(argc, argv);
        queue = std::make_unique<QtMainQueue>(app.get());
    }
    void TearDown() override {
        queue.reset();
        app.reset();
    }
    void showAndWait(QWidget& widget) {
        widget.resize(520, 420);
        widget.show();
        ASSERT_TRUE(pumpUntil(
            [&] { return widget.windowHandle() && widget.windowHandle()->isExposed(); }, 10.0));
        pumpFor(0.2);
    }

    XRig x;
    int argc = 1;
    char name[16] = "velmarune";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QtMainQueue> queue;
};

}  // namespace velmarune::testing
