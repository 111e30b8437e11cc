#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include "QtDesktop.h"
#include "app/AppState.h"
#include "delivery/ClipboardPaster.h"
#include "delivery/DidntPasteList.h"
#include "delivery/X11TestClients.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "platform/x11/X11Keyboard.h"
#include "platform/x11/X11Pasteboard.h"
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

void click(const QPoint& point) {
    runCommand({"xdotool", "mousemove", "--sync", std::to_string(point.x()),
                std::to_string(point.y()), "click", "1"});
}

// The private desktop with a tray host whose panel reserves the top 28 px,
// and the application's views.
class DesktopViewsX11 : public QtDesktop {
  protected:
    void SetUp() override {
        ASSERT_TRUE(requireProgram("trayer", "trayer"));
        ASSERT_TRUE(requireProgram("xdotool", "xdotool"));
        QtDesktop::SetUp();
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
        QtDesktop::TearDown();
    }

    QRect workArea() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

    ChildProcess tray{{"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                       "--height", "28", "--SetDockType", "true", "--SetPartialStrut", "true",
                       "--transparent", "false", "--tint", "0x303030"}};
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
    const std::pair<AppMode, QRgb> cases[] = {{AppMode::idle, qRgb(0xf6, 0xf5, 0xf4)},
                                              {AppMode::dictating, qRgb(0x33, 0xd1, 0x7a)},
                                              {AppMode::transcribing, qRgb(0xf6, 0xd3, 0x2d)},
                                              {AppMode::pasting, qRgb(0x62, 0xa0, 0xea)}};
    for (const auto& [mode, colour] : cases) {
        state->mode.set(mode);
        const QImage image = grab();
        EXPECT_GT(pixelsNear(image, colour), image.width() * image.height() / 12)
            << "mode " << appModeRawValue(mode);
    }
    const int badgeBefore = pixelsNear(grab(), qRgb(0xc0, 0x1c, 0x28));
    state->queuedDictations.set(3);
    const QImage badged = grab();
    EXPECT_GT(pixelsNear(badged, qRgb(0xc0, 0x1c, 0x28)), badgeBefore + 10) << "no badge drawn";
    EXPECT_EQ(icon.toolTip(), "Velmarune, transcribing 3");
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

    // The window the user types in still has the focus and gets the keys.
    EXPECT_TRUE(target.waitUntilActive(0.5));
    paster->copy("typed while the panels show");
    pumpFor(0.2);
    XTestKeyboard().tap({"Control_L"}, "v");
    std::optional<std::string> typed;
    pumpUntil([&] { return (typed = target.waitForPaste(0.01)).has_value(); }, 5.0);
    EXPECT_EQ(typed, "typed while the panels show");

    // A long transcript: three lines and an ellipsis.
    std::string longText;
    while (longText.size() < 10000) longText += "many words of a very long dictation ";
    views->hud().show(longText, true, 30.0);
    state->queuedDictations.set(0);
    state->mode.set(AppMode::idle);
    pumpFor(0.5);
    QWidget* longHud = shownWindow(QString::fromStdString(longText).left(200));
    ASSERT_TRUE(longHud);
    EXPECT_LE(longHud->height(), 3 * QFontMetrics(longHud->font()).lineSpacing() + 2 * 12 + 12);
}

TEST_F(DesktopViewsX11, PanelButtonsPasteAndCopyWithoutTakingTheFocus) {
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
    // The Paste button sits at the bottom right, inside the padding.
    const QRect frame = prompts->frameGeometry();
    click(QPoint(frame.right() - 14 - 20, frame.bottom() - 14 - 10));
    std::optional<std::string> pasted;
    pumpUntil([&] { return (pasted = target.waitForPaste(0.01)).has_value(); }, 10.0);
    EXPECT_EQ(pasted, "pasted from the panel");
    EXPECT_FALSE(shownWindow("Didn't paste"));
    EXPECT_FALSE(closed);
    EXPECT_TRUE(target.waitUntilActive(0.5)) << "the click moved the focus";

    // The heads-up display's Copy button, while that paste still waits to
    // give the clipboard back: the copy must survive the restore.
    views->hud().show("keep this copy", true, 30.0);
    QWidget* hud = nullptr;
    ASSERT_TRUE(pumpUntil([&] { return (hud = shownWindow("keep this copy")) != nullptr; }, 5.0));
    pumpFor(0.3);
    click(QPoint(hud->frameGeometry().right() - 16 - 15, hud->frameGeometry().center().y()));
    ASSERT_TRUE(pumpUntil([&] { return !shownWindow("keep this copy"); }, 5.0))
        << "Copy did nothing";
    pumpFor(ClipboardPaster::kRestoreWithoutReadSeconds + 0.5);
    EXPECT_EQ(runCommand({"xsel", "-b", "-o"}).output, "keep this copy");
}

}  // namespace
}  // namespace velmarune::testing

// Qt's tray looks for a StatusNotifier watcher on the session bus; libdbus
// keeps a buffer of that failed connection for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}
