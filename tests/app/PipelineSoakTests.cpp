#include <algorithm>
#include <string>

#include "PipelineFixture.h"

namespace velmarune::testing {
namespace {

// A thousand dictations in virtual time: bursts of one to seven presses (more
// than the queue holds), each decoded to its own number, pasted in turn by a
// target that mostly reads at once, sometimes late and sometimes never.
class PipelineSoak : public PipelineFixture {
  protected:
    void customise() override {
        // Each dictation's length names it: no pre-roll (the ring is emptied
        // before every press) and 8000 + n samples of tone.
        hebrew->textFor = [](const std::vector<float>& samples) {
            return "dictation " + std::to_string(samples.size() - 8000);
        };
    }

    void dictateNumber(int n) {
        capture->resetRing();
        pipeline->press();
        capture->deliverTone((8000 + n + 0.5) / 16000.0, 0.1f);
        pipeline->release();
    }

    // Decodes and pastes until the queue is empty.
    void drain() {
        for (int step = 0; step < 1000 && (state->queuedDictations.get() > 0 || pasting); ++step) {
            finishDecoding();
            while (completed < pastes().size()) {
                const auto observer = pastes()[completed].observer;
                pastedTexts.push_back(pastes()[completed].text);
                const size_t kind = pastedTexts.size() % 17;
                keystrokeDue(completed);
                if (kind == 5) {
                    queue.advance(0.2);  // a slow target reads a little later
                    observer->firstRead();
                } else if (kind == 11) {
                    unread.push_back(pastedTexts.back());  // never read
                    observer->noRead();
                } else {
                    observer->firstRead();
                }
                ++completed;
            }
            pasting = state->queuedDictations.get() > 0;
            queue.advance(0.1);
        }
    }

    size_t completed = 0;
    bool pasting = false;
    std::vector<std::string> pastedTexts, unread;
};

// Memory over many dictations is measured on the running application by
// bench/e2e_soak_bench.
TEST_F(PipelineSoak, AThousandDictationsKeepOrderAndBounds) {
    int64_t mostQueued = 0;
    auto watch = state->queuedDictations.subscribe(
        [&](const int64_t& queued) { mostQueued = std::max(mostQueued, queued); });
    std::vector<std::string> kept, refused;
    for (int n = 0; n < 1000;) {
        const int burst = 1 + (n * 5 + n / 7) % 7;
        for (int b = 0; b < burst && n < 1000; ++b, ++n) {
            dictateNumber(n);
            const bool full =
                display.notices ==
                std::vector<std::string>{"Too many dictations waiting. This one wasn't kept."};
            display.notices.clear();
            (full ? refused : kept).push_back("dictation " + std::to_string(n));
        }
        drain();
    }

    EXPECT_EQ(kept.size() + refused.size(), 1000u);
    EXPECT_FALSE(refused.empty());  // the bursts did overfill the queue
    EXPECT_EQ(mostQueued, 5);
    EXPECT_TRUE(logSink->contains("QUEUE_FULL: 5 waiting - press not kept"));
    // Every kept dictation pasted once, in the order spoken; nothing else.
    EXPECT_EQ(pastedTexts, kept);
    EXPECT_EQ(state->queuedDictations.get(), 0);
    EXPECT_EQ(state->mode.get(), AppMode::idle);
    EXPECT_FALSE(unread.empty());
}

}  // namespace
}  // namespace velmarune::testing
