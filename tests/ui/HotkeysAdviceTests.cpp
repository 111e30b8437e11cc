#include <gtest/gtest.h>

#include "app/AppState.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "ui/HotkeysTabModel.h"

namespace velmarune {
namespace {

// A sway session whose keyboards cannot be read: both the chord and the
// paste-last shortcut need the compositor's bindings, and the paste-last
// line must follow the shortcut as it is re-recorded.
TEST(HotkeysTabAdvice, NamesTheCompositorLinesForTheStoredShortcutAndHidesThemWhileRecording) {
    ManualMainQueue queue;
    ManualExecutor scanner;
    MemoryUserDefaults defaults;
    auto state = std::make_shared<AppState>();
    state->reloadPasteShortcut = [] { return true; };
    DesktopSession sway;
    sway.wayland = sway.waylandReachable = true;
    sway.compositor = "sway";
    sway.evdevProblem = "Velmarune cannot read the keyboards.";
    HotkeysTabModel model{{defaults, queue, scanner, [] { return std::vector<SystemShortcut>{}; },
                           state,
                           [&](DesktopService service, const std::optional<PasteShortcut>& last) {
                               for (const auto& choice : chooseBackends(sway, last)) {
                                   if (choice.service == service)
                                       return choice.problem;
                               }
                               return std::string();
                           }}};

    EXPECT_NE(model.dictationAdvice().find("bindsym --release F9 exec velmarune ptt release"),
              std::string::npos)
        << model.dictationAdvice();
    EXPECT_NE(model.pasteAdvice().find("exec velmarune ptt paste-last"), std::string::npos)
        << model.pasteAdvice();

    model.startRecording(HotkeysTabModel::Recording::paste, true);
    scanner.runAll();
    queue.runPending();
    EXPECT_EQ(model.pasteAdvice(), "");
    model.keyEvent(0xffe3, 37, true);  // Ctrl
    model.keyEvent(0xffe9, 64, true);  // Alt
    model.keyEvent('j', 44, true);
    queue.runPending();
    ASSERT_EQ(model.recording(), HotkeysTabModel::Recording::none) << model.pasteText();
    EXPECT_NE(model.pasteAdvice().find("bindsym Ctrl+Mod1+j exec velmarune ptt paste-last"),
              std::string::npos)
        << model.pasteAdvice();

    model.turnPasteShortcutOff();
    EXPECT_EQ(model.pasteAdvice(), "");
}

}  // namespace
}  // namespace velmarune
