#pragma once

#include <functional>
#include <string>

#include "foundation/MainQueue.h"
#include "platform/Pasteboard.h"

namespace velmarune {

// Produces the transcript only when an application asks for it, which is how
// reads are observed: every request hands out the text and then tells the
// main thread through `onRead`.
class PromiseProvider : public PasteboardDataProvider {
  public:
    PromiseProvider(std::string text, std::function<void()> onRead, MainQueue& mainQueue)
        : m_text(std::move(text)), m_onRead(std::move(onRead)), m_mainQueue(mainQueue) {}

    // Any thread.
    std::optional<PasteboardBytes> provideData(const std::string&) override {
        m_mainQueue.post(m_onRead);
        return m_text;
    }

    const std::string& text() const { return m_text; }

  private:
    const std::string m_text;
    const std::function<void()> m_onRead;
    MainQueue& m_mainQueue;
};

}  // namespace velmarune
