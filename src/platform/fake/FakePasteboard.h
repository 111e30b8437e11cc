#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/Pasteboard.h"

namespace velmarune {

// An in-memory pasteboard with the change-count semantics of the real one
// (every write raises the count) and promised data produced on demand.
class FakePasteboard : public Pasteboard {
  public:
    // A representation as the current contents hold it.
    struct Stored {
        std::string type;
        std::optional<PasteboardBytes> data;  // absent: promised
    };

    int64_t changeCount() const override;
    void setItems(std::vector<PasteboardItem> items) override;
    std::vector<std::shared_ptr<PasteboardItemReader>> readItems() override;
    std::string plainTextType() const override { return "UTF8_STRING"; }
    std::vector<std::string> preferredTypes() const override;

    // Another application copies (each inner list is one item's types and data).
    void userCopy(std::vector<std::vector<std::pair<std::string, PasteboardBytes>>> items);
    // An application reads the first item's `type`, as a paste target would.
    std::optional<PasteboardBytes> readAsApplication(const std::string& type);
    // The first item's data for `type` without asking its provider (which
    // would count as a read): "(promised)" for a promised type.
    std::optional<PasteboardBytes> peek(const std::string& type) const;
    // The types of every current item, in order.
    std::vector<std::vector<std::string>> types() const;
    // Number of setItems calls (our writes).
    int writes() const;
    // Types whose data the snapshot reader refuses to give.
    void refuseTypes(std::set<std::string> types);

  private:
    struct Item {
        std::vector<std::pair<std::string, PasteboardBytes>> data;
        std::shared_ptr<PasteboardDataProvider> provider;
        std::vector<std::string> promisedTypes;
    };
    class Reader;
    static std::optional<PasteboardBytes> dataOf(const Item& item, const std::string& type);

    mutable std::mutex m_mutex;
    std::vector<Item> m_items;
    std::atomic<int64_t> m_changeCount{0};
    int m_writes = 0;
    std::set<std::string> m_refused;
};

}  // namespace velmarune
