#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "delivery/DidntPastePresenter.h"
#include "delivery/DidntPastePrompt.h"
#include "delivery/DidntPastePrompts.h"

namespace velmarune {

// The transcripts that did not land, oldest first, at most five, and the one
// panel that shows them. Main thread only.
class DidntPasteList : public DidntPastePrompts,
                       public std::enable_shared_from_this<DidntPasteList> {
  public:
    static constexpr size_t kCapacity = 5;

    explicit DidntPasteList(DidntPastePresenter& presenter) : m_presenter(presenter) {}

    void show(DidntPastePrompt prompt) override;
    std::vector<DidntPastePrompt> dismiss() override;
    void restore(std::vector<DidntPastePrompt> prompts) override;
    void windowPasted(int64_t entryID) override;

    // The panel's actions.
    void paste(size_t index);
    void close();

    const std::vector<DidntPastePrompt>& prompts() const { return m_prompts; }
    bool panelShowing() const { return m_showing; }

  private:
    void trim();
    void refresh();
    void hidePanel();

    DidntPastePresenter& m_presenter;
    std::vector<DidntPastePrompt> m_prompts;
    bool m_showing = false;
};

}  // namespace velmarune
