#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include "QtPump.h"
#include "app/AppState.h"
#include "delivery/ClipboardPaster.h"
#include "delivery/DidntPasteList.h"
#include "delivery/PasteLastDictation.h"
#include "delivery/RecentDictations.h"
#include "delivery/TerminalPasteClasses.h"
#include "delivery/X11TestClients.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "hotkeys/XTestKeyboard.h"
#include "platform/fake/FakeKeyboard.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Pasteboard.h"
#include "shell/QtMainQueue.h"
#include "support/DeliveryDoubles.h"
#include "support/XRig.h"
#include "ui/DesktopViews.h"
#include "ui/HeadsUpDisplay.h"
#include "ui/StatusMenu.h"

namespace velmarune::testing {
namespace {

// The top-level panel whose title is `title`, when shown.
QWidget* shownWindow(const QString& title) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == title) {
            return widget;
        }
    }
    return nullptr;
}

void screenshot(const std::string& name) {
    const std::string path = std::string(VELMARUNE_BINARY_DIR) + "/ui-screenshots/" + name + ".png";
    std::system(("mkdir -p " + std::string(VELMARUNE_BINARY_DIR) +
                 "/ui-screenshots && import -window root " + path + " 2>/dev/null")
                    .c_str());
}

void click(const QPoint& point) {
    runCommand({"xdotool", "mousemove", "--sync", std::to_string(point.x()),
                std::to_string(point.y()), "click", "1"});
}

// A private desktop with a window manager and a tray host whose panel
// reserves the top 28 px, and the application's views in this process.
class DesktopViewsX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        ASSERT_TRUE(requireProgram("trayer", "trayer"));
        ASSERT_TRUE(requireProgram("xdotool", "xdotool"));
        ASSERT_TRUE(requireProgram("import", "imagemagick"));
        tray =
            ChildProcess({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                          "--height", "28", "--SetDockType", "true", "--SetPartialStrut", "true",
                          "--transparent", "false", "--tint", "0x303030"});
        app = std::make_unique<QApplication>(argc, argv);
        queue = std::make_unique<QtMainQueue>(app.get());
        std::string error;
        ASSERT_TRUE(pasteboard.start("", &error)) << error;
        ASSERT_TRUE(keystroke.start("", &error)) << error;
        snapshots.start();
        paster = std::make_shared<ClipboardPaster>(
            ClipboardPaster::Dependencies{pasteboard,
                                          *queue,
                                          snapshots,
                                          [this] { keystroke.post(PasteChord::controlV); },
                                          {},
                                          3.0});
        views = std::make_unique<DesktopViews>(DesktopViews::Dependencies{
            *queue, state, defaults, [this](const std::string& text) { paster->copy(text); },
            [] {}});
        views->start();
        list = std::make_shared<DidntPasteList>(views->didntPastePresenter());
        // The work area shrinks once the window manager has seen the panel.
        ASSERT_TRUE(pumpUntil(
            [] { return QGuiApplication::primaryScreen()->availableGeometry().top() >= 28; }, 10.0))
            << "the tray host's strut was not applied";
    }
    void TearDown() override {
        list.reset();
        views.reset();
        paster.reset();
        snapshots.stop();
        pasteboard.stop();
        queue.reset();
        app.reset();
    }

    QRect workArea() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

    XRig x;
    ChildProcess tray;
    int argc = 1;
    char name[16] = "velmarune";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QtMainQueue> queue;
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    MemoryUserDefaults defaults;
    X11Pasteboard pasteboard;
    X11Keyboard keystroke;
    SerialQueue snapshots{kClipboardSnapshotQueueName};
    std::shared_ptr<ClipboardPaster> paster;
    std::unique_ptr<DesktopViews> views;
    std::shared_ptr<DidntPasteList> list;
};

// Counts the pixels of the tray icon whose colour is near `rgb`.
int pixelsNear(const QImage& image, QRgb rgb) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(rgb)) < 40 && std::abs(qGreen(p) - qGreen(rgb)) < 40 &&
                std::abs(qBlue(p) - qBlue(rgb)) < 40) {
                ++count;
            }
        }
    }
    return count;
}

TEST_F(DesktopViewsX11, TrayIconIsEmbeddedAndFollowsTheMode) {
    QSystemTrayIcon& icon = views->statusMenu().trayIcon();
    ASSERT_TRUE(pumpUntil([&] { return icon.geometry().width() > 0; }, 10.0))
        << "no tray host embedded the icon";
    auto grab = [&] {
        pumpFor(0.3);
        const QRect r = icon.geometry();
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
            .toImage();
    };
    struct Case {
        AppMode mode;
        QRgb colour;
        const char* shot;
    };
    const Case cases[] = {{AppMode::idle, qRgb(0xf6, 0xf5, 0xf4), "ui-tray-idle"},
                          {AppMode::dictating, qRgb(0x33, 0xd1, 0x7a), "ui-tray-dictating"},
                          {AppMode::transcribing, qRgb(0xf6, 0xd3, 0x2d), "ui-tray-transcribing"},
                          {AppMode::pasting, qRgb(0x62, 0xa0, 0xea), "ui-tray-pasting"}};
    for (const auto& c : cases) {
        state->mode.set(c.mode);
        const QImage image = grab();
        EXPECT_GT(pixelsNear(image, c.colour), image.width() * image.height() / 12)
            << "mode " << appModeRawValue(c.mode);
        screenshot(c.shot);
    }
    const int badgeBefore = pixelsNear(grab(), qRgb(0xc0, 0x1c, 0x28));
    state->queuedDictations.set(3);
    const QImage badged = grab();
    EXPECT_GT(pixelsNear(badged, qRgb(0xc0, 0x1c, 0x28)), badgeBefore + 10) << "no badge drawn";
    EXPECT_EQ(icon.toolTip(), "Velmarune, transcribing 3");

    // The menu as the user opens it, with two recent dictations.
    auto recents = std::make_shared<RecentDictations>(*queue);
    recents->add("Meet me at the station at five.");
    recents->add("שלום, the meeting moved to Tuesday and everyone should come early");
    RecordingDelivery delivery;
    RecordingPrompts prompts;
    RecordingDisplay display;
    FakeModifierState keys;
    auto pasteLast = std::make_shared<PasteLastDictation>(
        PasteLastDictation::Dependencies{recents, delivery, prompts, display, keys, *queue, {}});
    views->menuModel().attachRecent(recents, pasteLast);
    state->engineStatus.set(WhisperStatus::needsModels({ModelSlot::hebrew}));
    QMenu& menu = views->statusMenu().menu();
    menu.popup(QPoint(icon.geometry().left() - 200, icon.geometry().bottom()));
    pumpFor(0.5);
    screenshot("ui-tray-menu");
    QMenu* recentMenu = menu.actions()[4]->menu();
    ASSERT_TRUE(recentMenu);
    recentMenu->popup(menu.geometry().topLeft() + QPoint(-240, 60));
    pumpFor(0.5);
    screenshot("ui-tray-menu-recent");
    recentMenu->hide();
    menu.hide();
}

TEST_F(DesktopViewsX11, PanelsStackAtTheTopRightOfTheWorkAreaAndTheFocusedWindowKeepsTyping) {
    PasteTarget target("UiTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));

    state->queuedDictations.set(2);
    state->mode.set(AppMode::dictating);
    views->hud().show("Hello world. This is what the last dictation said.", true, 30.0);
    for (const char* text :
         {"Meet me at the station at five.", "שלום, the meeting moved to Tuesday בשעה עשר."}) {
        list->show(DidntPastePrompt{text, std::nullopt, {}, {}});
    }
    QWidget *queuePanel = nullptr, *hud = nullptr, *prompts = nullptr;
    ASSERT_TRUE(pumpUntil(
        [&] {
            queuePanel = shownWindow("Recording · Transcribing 2");
            hud = shownWindow("Hello world. This is what the last dictation said.");
            prompts = shownWindow("Didn't paste");
            return queuePanel && hud && prompts;
        },
        5.0));
    pumpFor(0.5);
    const QRect area = workArea();
    EXPECT_EQ(queuePanel->frameGeometry().top(), area.top() + 20);
    for (QWidget* panel : {queuePanel, hud, prompts}) {
        EXPECT_EQ(panel->frameGeometry().right(), area.right() - 20)
            << panel->windowTitle().toStdString();
    }
    EXPECT_EQ(hud->frameGeometry().top(), queuePanel->frameGeometry().bottom() + 1 + 8);
    EXPECT_EQ(prompts->frameGeometry().top(), hud->frameGeometry().bottom() + 1 + 8);
    screenshot("ui-panels");

    // The window the user types in still has the focus and gets the keys.
    EXPECT_TRUE(target.waitUntilActive(0.5));
    paster->copy("typed while the panels show");
    pumpFor(0.2);
    XTestKeyboard keyboard;
    keyboard.press("Control_L");
    keyboard.press("v");
    keyboard.release("v");
    keyboard.release("Control_L");
    std::optional<std::string> typed;
    pumpUntil([&] { return (typed = target.waitForPaste(0.01)).has_value(); }, 5.0);
    EXPECT_EQ(typed, "typed while the panels show");

    // A long transcript: three lines and an ellipsis; Hebrew from the right.
    std::string longText;
    while (longText.size() < 10000) longText += "many words of a very long dictation ";
    views->hud().show(longText, true, 30.0);
    state->queuedDictations.set(0);
    state->mode.set(AppMode::idle);
    pumpFor(0.5);
    QWidget* longHud = shownWindow(QString::fromStdString(longText).left(200));
    ASSERT_TRUE(longHud);
    EXPECT_LE(longHud->height(), 3 * QFontMetrics(longHud->font()).lineSpacing() + 2 * 12 + 12);
    screenshot("ui-hud-long");
    views->hud().show("שלום עולם, this is Hebrew with English inside.", false, 30.0);
    pumpFor(0.5);
    screenshot("ui-hud-hebrew");

    // The same panels in a dark theme.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x44, 0x44, 0x44));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Mid, QColor(0x60, 0x60, 0x60));
    dark.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(0xaa, 0xaa, 0xaa));
    QApplication::setPalette(dark);
    state->queuedDictations.set(1);
    state->mode.set(AppMode::dictating);
    list->show(DidntPastePrompt{"A third one, in the dark.", std::nullopt, {}, {}});
    views->hud().show("Hello world, in a dark theme.", true, 30.0);
    pumpFor(0.8);
    screenshot("ui-panels-dark");
}

TEST_F(DesktopViewsX11, PasteButtonPastesIntoTheFocusedWindowAndCopyOutlivesTheRestore) {
    PasteTarget target("UiTarget");
    ASSERT_TRUE(target.waitUntilActive(5.0));
    // A queue panel came and went where the prompt shows next.
    state->queuedDictations.set(1);
    ASSERT_TRUE(pumpUntil([&] { return shownWindow("Transcribing 1") != nullptr; }, 5.0));
    state->queuedDictations.set(0);
    pumpFor(0.3);
    bool closed = false;
    list->show(DidntPastePrompt{"pasted from the panel", std::nullopt,
                                [this] { paster->insert("pasted from the panel", false, nullptr); },
                                [&] { closed = true; }});
    QWidget* prompts = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (prompts = shownWindow("Didn't paste")) != nullptr; }, 5.0));
    pumpFor(0.3);
    screenshot("ui-didnt-paste-one");
    // The Paste button sits at the bottom right, inside the padding.
    const QRect frame = prompts->frameGeometry();
    click(QPoint(frame.right() - 14 - 20, frame.bottom() - 14 - 10));
    std::optional<std::string> pasted;
    pumpUntil([&] { return (pasted = target.waitForPaste(0.01)).has_value(); }, 10.0);
    EXPECT_EQ(pasted, "pasted from the panel");
    EXPECT_FALSE(shownWindow("Didn't paste"));
    EXPECT_FALSE(closed);
    EXPECT_TRUE(target.waitUntilActive(0.5)) << "the click moved the focus";

    // Copy in the heads-up display while that paste still waits to give the
    // clipboard back: the copy must survive the restore.
    views->hud().show("keep this copy", true, 30.0);
    QWidget* hud = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (hud = shownWindow("keep this copy")) != nullptr; }, 5.0));
    pumpFor(0.3);
    const QRect hudFrame = hud->frameGeometry();
    click(QPoint(hudFrame.right() - 16 - 15, hudFrame.center().y()));
    ASSERT_TRUE(pumpUntil([&] { return !shownWindow("keep this copy"); }, 5.0))
        << "Copy did nothing";
    pumpFor(ClipboardPaster::kRestoreWithoutReadSeconds + 0.5);
    EXPECT_EQ(runCommand({"xsel", "-b", "-o"}).output, "keep this copy");
    EXPECT_TRUE(target.waitUntilActive(0.5)) << "the click moved the focus";
}

}  // namespace
}  // namespace velmarune::testing

// Qt's tray looks for a StatusNotifier watcher on the session bus; libdbus
// keeps a buffer of that failed connection for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}
