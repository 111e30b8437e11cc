#include <gtest/gtest.h>

#include "delivery/ClipboardPaster.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/fake/FakeFrontApplication.h"
#include "platform/fake/FakeKeyboard.h"
#include "platform/fake/FakePasteboard.h"
#include "shell/PasteRecorderWiring.h"

namespace velmarune {
namespace {

// The paster against the real diagnostic recorder: a superseded paste and a
// restored one each end their own press's row.
TEST(PasteRecorder, EachPasteEndsItsOwnPressRow) {
    ManualMainQueue clock;
    ManualExecutor queue;
    FakePasteboard pasteboard;
    FakeModifierState modifiers;
    FakeFrontApplication front;
    front.activate("Gedit:42");
    std::vector<std::string> rows;
    PasteDiagnostics diagnostics({[] { return true; },
                                  [&](const std::string& row) { rows.push_back(row); },
                                  [&] { return clock.now(); }, [] { return std::nullopt; },
                                  "0.1.0(1)", [&] { return clock.wallNow(); }});
    auto paster = std::make_shared<ClipboardPaster>(ClipboardPaster::Dependencies{
        pasteboard, clock, queue, [] {}, makePasteRecorder(diagnostics, modifiers, front), 0.0});

    pasteboard.userCopy({{{"UTF8_STRING", "before"}}});
    const auto first = diagnostics.begin();
    const auto second = diagnostics.begin();
    diagnostics.setPasting(first);
    paster->prepare();
    queue.runAll();
    paster->insert("one", true, nullptr);
    clock.advance(0.5);
    diagnostics.setPasting(second);
    paster->insert("two", true, nullptr);
    clock.advance(0.03);
    pasteboard.readAsApplication("UTF8_STRING");
    clock.advance(2);

    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[0].find("superseded"), std::string::npos) << rows[0];
    EXPECT_NE(rows[0].find("no read before next paste"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find("restored"), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find("Gedit:42"), std::string::npos) << rows[1];
}

}  // namespace
}  // namespace velmarune
