#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "platform/PermissionWalk.h"
#include "requirements/SystemFacts.h"

namespace velmarune {

// What dictation needs from this desktop, as found at one moment.
struct Readiness {
    SystemFacts::Microphone microphone;
    bool keyListening = false;    // the keyboard can be observed without a grab
    bool pasteKeystroke = false;  // a synthetic paste chord can be sent
    // Where the desktop's own words say why the keys cannot be heard and
    // what fixes it (a Wayland session's input devices); empty on X11.
    std::string keyListeningFix;

    enum class Need { microphone, keyListening, pasteKeystroke };
    // Missing needs, in the order the walk explains them.
    std::vector<Need> missing() const;
};

std::string readinessNeedName(Readiness::Need need);  // for logs

// The words of one explainer.
struct ReadinessExplanation {
    std::string title;
    std::string body;
};
// `chordText`: the push-to-talk chord as the desktop writes it ("Ctrl+Shift").
ReadinessExplanation explainReadiness(Readiness::Need need, const Readiness& now,
                                      const std::string& chordText);

// Shows one explainer at a time. Main thread.
class ReadinessExplainer {
  public:
    virtual ~ReadinessExplainer() = default;
    // Replaces what is shown. Closing the window counts as `onNotNow`.
    // `stillMissing`: the user pressed Continue and nothing changed yet.
    virtual void present(const ReadinessExplanation& explanation, bool stillMissing,
                         std::function<void()> onContinue, std::function<void()> onNotNow) = 0;
    virtual void dismiss() = 0;
};

// The start-up walk over what is missing. Probing (which may wait briefly
// for the sound server) runs off the main thread; explainers on it. It never
// holds start-up on a need: "Not Now" moves on, and the feature concerned
// fails later with its own message.
class ReadinessWalk : public PermissionWalk, public std::enable_shared_from_this<ReadinessWalk> {
  public:
    struct Dependencies {
        MainQueue* mainQueue = nullptr;
        Executor* prober = nullptr;
        std::function<Readiness()> probe;  // runs on `prober`
        ReadinessExplainer* explainer = nullptr;
        std::function<std::string()> chordText;  // the push-to-talk chord now
        // True once the push-to-talk control (`velmarune ptt` from a
        // compositor or desktop binding) has started a dictation: whoever
        // set that up needs no reminder that the keys cannot be heard, so
        // after the first run the walk only logs it. Unset: always asks.
        std::function<bool()> pushToTalkControlUsed = {};
    };

    explicit ReadinessWalk(Dependencies deps) : m_deps(std::move(deps)) {}

    void run(bool firstRun, std::function<void()> onComplete) override;

  private:
    void probeThen(std::function<void(ReadinessWalk&, const Readiness&)> next);
    void step(std::vector<Readiness::Need> pending, const Readiness& now, bool stillMissing);
    void finish();

    Dependencies m_deps;
    Logger m_log{"PermissionsCoordinator"};
    std::function<void()> m_onComplete;
    uint64_t m_stepSerial = 0;
};

}  // namespace velmarune
