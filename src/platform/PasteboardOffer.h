#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Pasteboard.h"

namespace velmarune {

// One type a clipboard owner answers: bytes in hand, or promised by a provider
// (each production is a read).
struct PasteboardOffer {
    std::string name;
    std::optional<PasteboardBytes> data;
    std::shared_ptr<PasteboardDataProvider> provider;
    std::string providerType;

    std::optional<PasteboardBytes> produce() const {
        if (data) {
            return data;
        }
        return provider ? provider->provideData(providerType) : std::nullopt;
    }
};

// Our own clipboard contents, read from memory. `Offer` has `name` and
// `produce()` (a backend's offer may carry more, such as X atoms).
template <typename Offer>
class OwnItemReader : public PasteboardItemReader {
  public:
    explicit OwnItemReader(std::vector<Offer> offers) : m_offers(std::move(offers)) {}
    std::vector<std::string> types() override {
        std::vector<std::string> names;
        for (const auto& offer : m_offers) names.push_back(offer.name);
        return names;
    }
    std::optional<PasteboardBytes> data(const std::string& type,
                                        const std::function<bool()>&) override {
        for (const auto& offer : m_offers) {
            if (offer.name == type) {
                return offer.produce();
            }
        }
        return std::nullopt;
    }

  private:
    std::vector<Offer> m_offers;
};

}  // namespace velmarune
