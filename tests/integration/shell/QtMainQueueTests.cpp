#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <thread>

#include "shell/QtMainQueue.h"

namespace velmarune {
namespace {

TEST(QtMainQueue, RunsPostedWorkInOrderOnTheMainThreadFromAnyThread) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QtMainQueue queue(&app);
    const auto mainThread = std::this_thread::get_id();
    std::vector<std::string> order;
    bool everyOnMain = true;
    auto record = [&](const char* what) {
        everyOnMain = everyOnMain && std::this_thread::get_id() == mainThread;
        order.push_back(what);
    };
    queue.postAfter(0.05, [&] { record("late"); });
    queue.post([&] { record("first"); });
    std::thread([&] {
        queue.post([&] { record("from thread"); });
        queue.postAfter(0.02, [&] { record("delayed from thread"); });
    }).join();
    queue.postAfter(0.1, [&] { app.quit(); });
    QTimer::singleShot(5000, &app, [&] { app.quit(); });  // bound
    app.exec();
    EXPECT_EQ(order,
              (std::vector<std::string>{"first", "from thread", "delayed from thread", "late"}));
    EXPECT_TRUE(everyOnMain);
}

}  // namespace
}  // namespace velmarune
