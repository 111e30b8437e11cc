#include "system/ReadinessWalk.h"

#include <algorithm>

namespace velmarune {

std::vector<Readiness::Need> Readiness::missing() const {
    std::vector<Need> needs;
    if (!microphone.serverReachable || microphone.sourceCount == 0) {
        needs.push_back(Need::microphone);
    }
    if (!keyListening) {
        needs.push_back(Need::keyListening);
    }
    if (!pasteKeystroke) {
        needs.push_back(Need::pasteKeystroke);
    }
    return needs;
}

std::string readinessNeedName(Readiness::Need need) {
    switch (need) {
        case Readiness::Need::microphone:
            return "microphone";
        case Readiness::Need::keyListening:
            return "keyListening";
        case Readiness::Need::pasteKeystroke:
            break;
    }
    return "pasteKeystroke";
}

ReadinessExplanation explainReadiness(Readiness::Need need, const Readiness& now,
                                      const std::string& chordText) {
    switch (need) {
        case Readiness::Need::microphone:
            return {"Microphone",
                    std::string("Velmarune records your voice with the microphone and turns it "
                                "into text on this computer. Audio never leaves it.\n\n") +
                        (now.microphone.serverReachable
                             ? "No microphone is connected. Plug in a microphone or headset, or "
                               "turn on an input in the sound settings, then press Continue."
                             : "The sound server (PipeWire or PulseAudio) cannot be reached. "
                               "Start the sound service, or log in to a desktop session with "
                               "sound, then press Continue.")};
        case Readiness::Need::keyListening:
            return {"Push-to-Talk Keys",
                    "Velmarune listens for the push-to-talk keys (" + chordText +
                        ") anywhere on the desktop. It only listens: it never blocks or changes "
                        "keystrokes.\n\n" +
                        (now.keyListeningFix.empty()
                             ? "This display does not offer the X server's XInput 2 extension "
                               "that listening needs. Log in to an X11 session on a current X "
                               "server, then press Continue."
                             : now.keyListeningFix)};
        case Readiness::Need::pasteKeystroke:
            break;
    }
    return {"Pasting Text",
            "Velmarune pastes each dictation by sending the paste keystroke to the window you "
            "are typing in.\n\nThis display does not offer the X server's XTEST extension that "
            "sends it, so dictations cannot be pasted. Turn XTEST on in the X server's "
            "configuration (it is on by default), then press Continue."};
}

void ReadinessWalk::run(bool firstRun, std::function<void()> onComplete) {
    m_onComplete = std::move(onComplete);
    const bool controlServes =
        !firstRun && m_deps.pushToTalkControlUsed && m_deps.pushToTalkControlUsed();
    probeThen([controlServes](ReadinessWalk& self, const Readiness& now) {
        auto missing = now.missing();
        if (controlServes && std::erase(missing, Readiness::Need::keyListening) > 0) {
            self.m_log.info("keyListening missing; the push-to-talk control serves, so not asked");
        }
        if (missing.empty()) {
            self.m_log.info("Nothing missing for dictation; skipping walk");
            self.finish();
            return;
        }
        self.m_log.info("Starting readiness walk, %{public}ld missing",
                        static_cast<int64_t>(missing.size()));
        self.step(missing, now, false);
    });
}

void ReadinessWalk::probeThen(std::function<void(ReadinessWalk&, const Readiness&)> next) {
    std::weak_ptr<ReadinessWalk> weak = weak_from_this();
    auto probe = m_deps.probe;
    MainQueue* mainQueue = m_deps.mainQueue;
    m_deps.prober->execute([weak, probe, mainQueue, next = std::move(next)] {
        const Readiness now = probe();
        mainQueue->post([weak, next, now] {
            if (auto self = weak.lock()) {
                next(*self, now);
            }
        });
    });
}

void ReadinessWalk::step(std::vector<Readiness::Need> pending, const Readiness& now,
                         bool stillMissing) {
    if (pending.empty()) {
        finish();
        return;
    }
    const Readiness::Need need = pending.front();
    // A second press while the first one's probe runs must not walk twice.
    const uint64_t serial = ++m_stepSerial;
    std::weak_ptr<ReadinessWalk> weak = weak_from_this();
    auto onContinue = [weak, pending, serial] {
        auto self = weak.lock();
        if (!self || self->m_stepSerial != serial) {
            return;
        }
        ++self->m_stepSerial;
        // Look again: the user may have plugged something in meanwhile.
        self->probeThen([pending](ReadinessWalk& walk, const Readiness& again) {
            const auto missing = again.missing();
            const bool fixed =
                std::find(missing.begin(), missing.end(), pending.front()) == missing.end();
            walk.m_log.info("Continue on %{public}s: %{public}s",
                            readinessNeedName(pending.front()),
                            std::string(fixed ? "now available" : "still missing"));
            if (fixed) {
                walk.step({pending.begin() + 1, pending.end()}, again, false);
            } else {
                walk.step(pending, again, true);
            }
        });
    };
    auto onNotNow = [weak, pending, now, serial] {
        if (auto self = weak.lock(); self && self->m_stepSerial == serial) {
            self->m_log.info("User skipped %{public}s", readinessNeedName(pending.front()));
            self->step({pending.begin() + 1, pending.end()}, now, false);
        }
    };
    m_deps.explainer->present(explainReadiness(need, now, m_deps.chordText()), stillMissing,
                              onContinue, onNotNow);
}

void ReadinessWalk::finish() {
    m_deps.explainer->dismiss();
    if (auto done = std::move(m_onComplete)) {
        m_onComplete = nullptr;
        done();
    }
}

}  // namespace velmarune
