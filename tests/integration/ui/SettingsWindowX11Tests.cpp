#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <QWidget>
#include <chrono>
#include <thread>

#include "app/AppState.h"
#include "delivery/X11TestClients.h"
#include "foundation/UserDefaults.h"
#include "shell/QtMainQueue.h"
#include "support/XRig.h"
#include "ui/SettingsWindow.h"

namespace velmarune::testing {
namespace {

bool pumpUntil(const std::function<bool()>& done, double seconds) {
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

int shownSettingsWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->isVisible() && widget->windowTitle() == "Velmarune Settings";
    }
    return count;
}

// The settings window on a private X server with a window manager.
class SettingsWindowX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        app = std::make_unique<QApplication>(argc, argv);
        queue = std::make_unique<QtMainQueue>(app.get());
        settings =
            std::make_unique<SettingsWindow>(SettingsWindow::Dependencies{state, defaults, *queue});
    }
    void TearDown() override {
        settings.reset();
        queue.reset();
        app.reset();
    }

    bool settingsActive(double seconds) {
        return pumpUntil(
            [&] {
                return settings->window() && QApplication::activeWindow() == settings->window();
            },
            seconds);
    }

    XRig x;
    int argc = 1;
    char name[16] = "velmarune";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QtMainQueue> queue;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    MemoryUserDefaults defaults;
    std::unique_ptr<SettingsWindow> settings;
};

TEST_F(SettingsWindowX11, OpeningAgainBringsTheSameWindowBackInFront) {
    EXPECT_EQ(settings->window(), nullptr) << "built before it was asked for";
    settings->show();
    ASSERT_TRUE(settingsActive(5.0));
    QWidget* first = settings->window();
    QStringList labels;
    for (int i = 0; i < settings->tabs()->count(); ++i) {
        labels << settings->tabs()->tabText(i);
        EXPECT_FALSE(settings->tabs()->tabIcon(i).isNull()) << i;
    }
    EXPECT_EQ(labels.join(","), "General,Hotkeys,Models,Audio,About");
    EXPECT_EQ(settings->tabs()->currentIndex(), 0);

    // Another application's window takes the front; opening Settings again
    // (as "Download Models…" does) raises the same window on the Models tab.
    PasteTarget other("OtherApp");
    ASSERT_TRUE(other.waitUntilActive(5.0));
    settings->show(SettingsPage::models);
    EXPECT_TRUE(settingsActive(5.0)) << "the window stayed behind the other application";
    EXPECT_EQ(settings->window(), first);
    EXPECT_EQ(shownSettingsWindows(), 1);
    EXPECT_EQ(settings->tabs()->currentIndex(), 2);

    // Closed and opened again: the same window, on the tab the user left.
    first->close();
    ASSERT_TRUE(pumpUntil([&] { return !first->isVisible(); }, 5.0));
    settings->show();
    EXPECT_TRUE(settingsActive(5.0));
    EXPECT_EQ(settings->window(), first);
    EXPECT_EQ(settings->tabs()->currentIndex(), 2);
    EXPECT_EQ(shownSettingsWindows(), 1);
}

}  // namespace
}  // namespace velmarune::testing
