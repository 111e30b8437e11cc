// What the Audio settings tab's level meter costs: process CPU time while a
// tone plays into a virtual microphone that the capture engine records, first
// with no tab, then with the tab on screen (the meter redrawing ~30 times a
// second), then with the tab hidden again. Private Xvfb and PulseAudio.
// Usage: bench_audio_tab_bench [seconds per phase, default 10]

#include <QApplication>
#include <QWindow>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "ProcessCost.h"
#include "QtBench.h"
#include "app/AppState.h"
#include "audio/AudioCaptureEngine.h"
#include "foundation/SerialQueue.h"
#include "foundation/UserDefaults.h"
#include "integration/ui/QtPump.h"
#include "platform/pulse/PulseCaptureSession.h"
#include "shell/SettingsTabs.h"
#include "support/Process.h"
#include "support/PulseRig.h"
#include "support/XRig.h"
#include "ui/AudioTab.h"

using namespace velmarune;
using namespace velmarune::testing;
using velmarune::bench::processCpuSeconds;

namespace {

bool pump(const std::function<bool()>& done, double seconds) {
    return pumpUntil(done, seconds, 0.002);
}

// Percent of one core this process used over `seconds` of running the event loop.
double cpuPercent(double seconds) {
    const double before = processCpuSeconds();
    pump([] { return false; }, seconds);
    return 100.0 * (processCpuSeconds() - before) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    XRig x{XRig::Options{false}};
    if (!x.ok()) {
        std::fprintf(stderr, "no Xvfb\n");
        return 1;
    }
    PulseRig rig;
    rig.start();
    rig.addVirtualMic("benchmic", 48000, 2, "float32le", "Bench Microphone");
    rig.setDefaultSource("benchmic");

    BenchQtApp qt;
    auto& queue = qt.queue;
    MemoryUserDefaults defaults;
    PulseCaptureSession session(queue, rig.serverAddress());
    session.start();
    if (!session.waitUntilConnected(5.0)) {
        std::fprintf(stderr, "no sound server\n");
        return 1;
    }
    auto state = std::make_shared<AppState>();
    state->captureEngine = std::make_shared<AudioCaptureEngine>(
        std::make_shared<AudioRingBuffer>(16000, 65.0), session, defaults,
        AudioCaptureEngine::Control::ownThread);
    if (!state->captureEngine->startSession()) {
        std::fprintf(stderr, "capture did not start\n");
        return 1;
    }
    SerialQueue soundQueue{"bench.sound"};
    std::unique_ptr<QWidget> tab(makeAudioTab(state, defaults, queue, soundQueue, session));
    tab->resize(520, 420);

    // A varying level, so that every reading redraws the meter.
    const auto tone = rig.makeTone("tone", 48000, 2, 440, 3 * seconds + 10, 0.3);
    const pid_t player = rig.play(tone, "benchmic_out");
    pump([] { return false; }, 1.0);

    const double without = cpuPercent(seconds);
    tab->show();
    pump([&] { return tab->windowHandle() && tab->windowHandle()->isExposed(); }, 5.0);
    pump([] { return false; }, 0.5);
    const double shown = cpuPercent(seconds);
    tab->hide();
    pump([] { return false; }, 0.5);
    const double hidden = cpuPercent(seconds);

    std::printf("capture running, no Audio tab:   %.2f %% of one core over %.0f s\n", without,
                seconds);
    std::printf("Audio tab shown (meter running): %.2f %% (meter adds %.2f %%)\n", shown,
                shown - without);
    std::printf("Audio tab hidden again:          %.2f %% (adds %.2f %%)\n", hidden,
                hidden - without);
    kill(player, SIGTERM);
    PulseRig::waitForExit(player, 2.0);
    state->captureEngine->stop();
    soundQueue.stop();
    return 0;
}
