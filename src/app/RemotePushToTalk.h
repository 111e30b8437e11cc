#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/DictationPipeline.h"
#include "foundation/Log.h"
#include "foundation/MainQueue.h"

namespace velmarune {

// Set once the control has started a dictation (a binding is set up).
inline constexpr const char* kPushToTalkControlUsedKey = "pushToTalkControlUsed";

// Push-to-talk asked for from outside the keyboard listener: a compositor key
// binding or a desktop shortcut running `velmarune ptt ...`. It drives the
// same pipeline calls as the chord. A press whose release never comes (the
// binding's release was swallowed because a modifier went up first, or the
// shortcut tool has no release at all) ends by itself after the hold limit,
// with the recording kept. Main thread only.
class RemotePushToTalk : public std::enable_shared_from_this<RemotePushToTalk> {
  public:
    // The pipeline's recording reserve: the longest dictation it is built for.
    static constexpr double kHoldLimitSeconds =
        DictationPipeline::kRecordingReserveSamples / DictationPipeline::kSampleRateHz;

    struct Actions {
        std::function<bool()> isRecording;
        std::function<int64_t()> pressSerial;
        std::function<void()> press;
        std::function<void()> release;
        std::function<void()> pasteLast;
    };

    RemotePushToTalk(MainQueue& mainQueue, Actions actions)
        : m_mainQueue(mainQueue), m_actions(std::move(actions)) {}

    void press();
    void release();
    // Starts a dictation when none is recording, ends the one recording otherwise.
    void toggle();
    void pasteLast();

  private:
    void armHoldLimit();

    MainQueue& m_mainQueue;
    Actions m_actions;
    Logger m_log{"RemotePushToTalk"};
};

}  // namespace velmarune
