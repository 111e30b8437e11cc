#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/RemotePushToTalk.h"
#include "foundation/ManualMainQueue.h"

namespace velmarune {
namespace {

// The pipeline as the control sees it: recording or not, and each press's serial.
struct ControlRig {
    ManualMainQueue queue;
    bool recording = false;
    int64_t serial = 0;
    std::vector<std::string> calls;
    std::shared_ptr<RemotePushToTalk> control = std::make_shared<RemotePushToTalk>(
        queue, RemotePushToTalk::Actions{[this] { return recording; }, [this] { return serial; },
                                         [this] { keyboardPress("press"); },
                                         [this] { keyboardRelease("release"); },
                                         [this] { calls.push_back("pasteLast"); }});

    void keyboardPress(const std::string& call = "keyboard press") {
        calls.push_back(call);
        recording = true;
        ++serial;
    }
    void keyboardRelease(const std::string& call = "keyboard release") {
        calls.push_back(call);
        recording = false;
    }
};

TEST(RemotePushToTalk, RequestsDriveThePipelineOnlyWhereTheyChangeSomething) {
    struct Case {
        const char* name;
        std::vector<void (RemotePushToTalk::*)()> requests;
        std::vector<std::string> calls;
    };
    using R = RemotePushToTalk;
    const Case cases[] = {
        {"press then release", {&R::press, &R::release}, {"press", "release"}},
        {"a repeated press keeps the one dictation",
         {&R::press, &R::press, &R::release},
         {"press", "release"}},
        {"a release without a press does nothing", {&R::release}, {}},
        {"toggle starts and ends",
         {&R::toggle, &R::toggle, &R::toggle},
         {"press", "release", "press"}},
        {"paste last", {&R::pasteLast}, {"pasteLast"}},
    };
    for (const Case& c : cases) {
        ControlRig rig;
        for (auto request : c.requests) {
            ((*rig.control).*request)();
        }
        EXPECT_EQ(rig.calls, c.calls) << c.name;
    }
}

// Each control press is released at the hold limit, the recording kept;
// a later press (from the chord) is left alone.
TEST(RemotePushToTalk, TheHoldLimitEndsOnlyTheControlsOwnPress) {
    ControlRig rig;
    rig.control->press();
    rig.queue.advance(RemotePushToTalk::kHoldLimitSeconds - 1);
    EXPECT_TRUE(rig.recording);
    rig.queue.advance(1);
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"press", "release"}));

    rig.control->press();
    rig.control->release();
    rig.queue.advance(10);
    rig.keyboardPress();  // a new dictation from the chord, still held at the old limit
    rig.queue.advance(RemotePushToTalk::kHoldLimitSeconds);
    EXPECT_TRUE(rig.recording);

    // A control press while the chord records changes nothing, and sets no limit of its own.
    rig.control->press();
    rig.keyboardRelease();
    rig.queue.advance(RemotePushToTalk::kHoldLimitSeconds);
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"press", "release", "press", "release",
                                                   "keyboard press", "keyboard release"}));
}

}  // namespace
}  // namespace velmarune
