#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "delivery/DictationDisplay.h"
#include "delivery/DidntPastePrompts.h"
#include "delivery/TextDelivery.h"

namespace velmarune::testing {

// Keeps each paste so that the test can play the target window.
class RecordingDelivery : public TextDelivery {
  public:
    struct Paste {
        std::string text;
        std::shared_ptr<PasteObserver> observer;
        bool keystrokePosted = false;
    };
    explicit RecordingDelivery(std::function<void()> onInsert = {})
        : m_onInsert(std::move(onInsert)) {}
    void prepare() override { ++prepares; }
    void insert(const std::string& text, bool diagnose,
                std::shared_ptr<PasteObserver> observer) override {
        (diagnose ? pastes : repastes).push_back({text, std::move(observer)});
        if (m_onInsert) {
            m_onInsert();
        }
    }
    std::vector<Paste> pastes, repastes;  // with and without a diagnostic record
    int prepares = 0;

  private:
    std::function<void()> m_onInsert;
};

class RecordingDisplay : public DictationDisplay {
  public:
    void showNotice(const std::string& text, double) override { notices.push_back(text); }
    void showTranscript(const std::string& text) override { transcripts.push_back(text); }
    std::vector<std::string> notices, transcripts;
};

class RecordingPrompts : public DidntPastePrompts {
  public:
    void show(DidntPastePrompt prompt) override { prompts.push_back(std::move(prompt)); }
    std::vector<DidntPastePrompt> dismiss() override { return std::exchange(prompts, {}); }
    void restore(std::vector<DidntPastePrompt> restored) override {
        for (auto& p : restored) prompts.push_back(std::move(p));
    }
    void windowPasted(int64_t entryID) override { pastedEntries.push_back(entryID); }
    std::vector<DidntPastePrompt> prompts;
    std::vector<int64_t> pastedEntries;
};

}  // namespace velmarune::testing
