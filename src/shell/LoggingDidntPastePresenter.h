#pragma once

#include <functional>
#include <vector>

#include "delivery/DidntPastePresenter.h"
#include "foundation/Log.h"

namespace velmarune {

// Keeps the didn't-paste list where the panel would show it, and says so in
// the log, until a floating panel draws it.
class LoggingDidntPastePresenter : public DidntPastePresenter {
  public:
    void show(const std::vector<DidntPastePrompt>& prompts, std::function<void(size_t)> paste,
              std::function<void()> close) override {
        m_log.info("didn't paste: %{public}ld prompt(s) offered", prompts.size());
        m_paste = std::move(paste);
        m_close = std::move(close);
        m_count = prompts.size();
    }
    void hide() override {
        m_paste = nullptr;
        m_close = nullptr;
        m_count = 0;
    }
    size_t count() const { return m_count; }

  private:
    Logger m_log{"DidntPaste"};
    std::function<void(size_t)> m_paste;
    std::function<void()> m_close;
    size_t m_count = 0;
};

}  // namespace velmarune
