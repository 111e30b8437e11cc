#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "delivery/ClipboardPaster.h"
#include "delivery/TerminalPasteClasses.h"
#include "foundation/ManualMainQueue.h"
#include "foundation/SerialQueue.h"
#include "platform/FrontApplication.h"
#include "platform/PasteKeystroke.h"
#include "support/Process.h"

namespace velmarune::testing {

// The core's paster on real backends, wired as the application wires them
// (the paste chord chosen by the front window's class); time is the test's.
struct BackendPaster {
    struct Reads : PasteObserver {
        void firstRead() override { ++firstReads; }
        void noRead() override { ++noReads; }
        std::atomic<int> noReads = 0, firstReads = 0;
    };

    ManualMainQueue clock;
    SerialQueue queue{kClipboardSnapshotQueueName};
    std::shared_ptr<ClipboardPaster> paster;
    std::shared_ptr<Reads> reads = std::make_shared<Reads>();

    void startPaster(Pasteboard& pasteboard, PasteKeystroke& keystroke, FrontApplication& front) {
        queue.start();
        // Generous claim wait: the test owns the timing, not the machine's load.
        paster = std::make_shared<ClipboardPaster>(ClipboardPaster::Dependencies{
            pasteboard,
            clock,
            queue,
            [&keystroke, &front] {
                keystroke.post(
                    pasteChordFor(front.frontmostClassNames(), defaultTerminalPasteClasses()));
            },
            {},
            3.0});
    }
    // Before the backends go.
    void stopPaster() {
        paster.reset();
        queue.stop();
    }
    ~BackendPaster() { stopPaster(); }

    void insert(const std::string& text) { paster->insert(text, false, reads); }
    // Runs the main queue until `condition` holds, in real time.
    bool pump(const std::function<bool()>& condition, double seconds = 5.0) {
        return waitUntil(
            [&] {
                clock.runPending();
                return condition();
            },
            seconds);
    }
};

}  // namespace velmarune::testing
