#include "platform/fake/FakePasteboard.h"

namespace velmarune {

class FakePasteboard::Reader : public PasteboardItemReader {
  public:
    Reader(Item item, std::set<std::string> refused)
        : m_item(std::move(item)), m_refused(std::move(refused)) {}
    std::vector<std::string> types() override {
        std::vector<std::string> result;
        for (const auto& [type, data] : m_item.data) result.push_back(type);
        for (const auto& type : m_item.promisedTypes) result.push_back(type);
        return result;
    }
    std::optional<PasteboardBytes> data(const std::string& type,
                                        const std::function<bool()>&) override {
        if (m_refused.count(type)) {
            return std::nullopt;
        }
        return dataOf(m_item, type);
    }

  private:
    Item m_item;
    std::set<std::string> m_refused;
};

int64_t FakePasteboard::changeCount() const {
    return m_changeCount.load();
}

void FakePasteboard::setItems(std::vector<PasteboardItem> items) {
    std::lock_guard lock(m_mutex);
    m_items.clear();
    for (auto& item : items) {
        m_items.push_back(
            Item{std::move(item.data), std::move(item.provider), std::move(item.promisedTypes)});
    }
    ++m_writes;
    ++m_changeCount;
}

std::vector<std::shared_ptr<PasteboardItemReader>> FakePasteboard::readItems() {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<PasteboardItemReader>> result;
    for (const auto& item : m_items) result.push_back(std::make_shared<Reader>(item, m_refused));
    return result;
}

std::vector<std::string> FakePasteboard::preferredTypes() const {
    return {
        "UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/uri-list", "text/html",
        "text/rtf"};
}

void FakePasteboard::userCopy(
    std::vector<std::vector<std::pair<std::string, PasteboardBytes>>> items) {
    std::lock_guard lock(m_mutex);
    m_items.clear();
    for (auto& data : items) m_items.push_back(Item{std::move(data), nullptr, {}});
    ++m_changeCount;
}

std::optional<PasteboardBytes> FakePasteboard::readAsApplication(const std::string& type) {
    Item first;
    {
        std::lock_guard lock(m_mutex);
        if (m_items.empty()) {
            return std::nullopt;
        }
        first = m_items.front();
    }
    // Outside the lock: the provider may call back into the pasteboard.
    return dataOf(first, type);
}

std::optional<PasteboardBytes> FakePasteboard::peek(const std::string& type) const {
    std::lock_guard lock(m_mutex);
    if (m_items.empty()) {
        return std::nullopt;
    }
    for (const auto& [t, data] : m_items.front().data) {
        if (t == type) {
            return data;
        }
    }
    for (const auto& t : m_items.front().promisedTypes) {
        if (t == type) {
            return PasteboardBytes("(promised)");
        }
    }
    return std::nullopt;
}

std::vector<std::vector<std::string>> FakePasteboard::types() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::vector<std::string>> result;
    for (const auto& item : m_items) {
        std::vector<std::string> types;
        for (const auto& [type, data] : item.data) types.push_back(type);
        for (const auto& type : item.promisedTypes) types.push_back(type);
        result.push_back(std::move(types));
    }
    return result;
}

int FakePasteboard::writes() const {
    std::lock_guard lock(m_mutex);
    return m_writes;
}

void FakePasteboard::refuseTypes(std::set<std::string> types) {
    std::lock_guard lock(m_mutex);
    m_refused = std::move(types);
}

std::optional<PasteboardBytes> FakePasteboard::dataOf(const Item& item, const std::string& type) {
    for (const auto& [t, data] : item.data) {
        if (t == type) {
            return data;
        }
    }
    for (const auto& t : item.promisedTypes) {
        if (t == type && item.provider) {
            return item.provider->provideData(type);
        }
    }
    return std::nullopt;
}

}  // namespace velmarune
