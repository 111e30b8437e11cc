#pragma once

#include <optional>
#include <string>

#include "platform/FrontApplication.h"

namespace velmarune {

// A front application the test sets; `activate` also sends the activation event.
class FakeFrontApplication : public FrontApplication {
  public:
    std::optional<std::string> frontmost() override { return m_identity; }
    // The class part of the identity.
    std::vector<std::string> frontmostClassNames() override {
        if (!m_identity) {
            return {};
        }
        return {m_identity->substr(0, m_identity->rfind(':'))};
    }
    uint64_t activationCount() override { return m_activations; }
    void setOnActivation(std::function<void()> callback) override {
        m_onActivation = std::move(callback);
    }
    void activate(std::optional<std::string> identity) {
        m_identity = std::move(identity);
        ++m_activations;
        if (m_onActivation) {
            m_onActivation();
        }
    }

  private:
    std::optional<std::string> m_identity;
    std::function<void()> m_onActivation;
    uint64_t m_activations = 0;
};

}  // namespace velmarune
