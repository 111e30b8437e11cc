#include "app/RemotePushToTalk.h"

namespace velmarune {

void RemotePushToTalk::press() {
    if (m_actions.isRecording()) {
        m_log.info("push-to-talk press from the control ignored: already recording");
        return;
    }
    m_log.info("push-to-talk ACTIVE (control)");
    m_actions.press();
    armHoldLimit();
}

void RemotePushToTalk::release() {
    if (!m_actions.isRecording()) {
        m_log.info("push-to-talk release from the control ignored: not recording");
        return;
    }
    m_log.info("push-to-talk RELEASED (control)");
    m_actions.release();
}

void RemotePushToTalk::toggle() {
    if (m_actions.isRecording()) {
        release();
    } else {
        press();
    }
}

void RemotePushToTalk::pasteLast() {
    m_log.info("paste last dictation (control)");
    m_actions.pasteLast();
}

void RemotePushToTalk::armHoldLimit() {
    if (!m_actions.isRecording()) {
        return;
    }
    // Only this press: a later one (from the keyboard or the control) has a
    // serial of its own and is left alone.
    const int64_t serial = m_actions.pressSerial();
    std::weak_ptr<RemotePushToTalk> weak = weak_from_this();
    m_mainQueue.postAfter(kHoldLimitSeconds, [weak, serial] {
        auto self = weak.lock();
        if (!self || !self->m_actions.isRecording() || self->m_actions.pressSerial() != serial) {
            return;
        }
        self->m_log.error(
            "push-to-talk press from the control had no release within %{public}d s; "
            "released, the recording is kept",
            static_cast<int>(kHoldLimitSeconds));
        self->m_actions.release();
    });
}

}  // namespace velmarune
