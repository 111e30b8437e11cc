#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmarune {

// Raw bytes of one representation.
using PasteboardBytes = std::string;

// Produces promised representations when an application asks for them.
// Called on the thread the pasteboard serves requests on (the X11 backend's
// event thread; the caller's thread in the fake); must be quick.
class PasteboardDataProvider {
  public:
    virtual ~PasteboardDataProvider() = default;
    virtual std::optional<PasteboardBytes> provideData(const std::string& type) = 0;
};

// One item to write: representations given now, in the item's type order,
// and types whose data the provider produces on demand.
struct PasteboardItem {
    std::vector<std::pair<std::string, PasteboardBytes>> data;
    std::shared_ptr<PasteboardDataProvider> provider;
    std::vector<std::string> promisedTypes;
};

// One item of the current contents. Used on the snapshot queue only.
class PasteboardItemReader {
  public:
    virtual ~PasteboardItemReader() = default;
    // The item's own type order.
    virtual std::vector<std::string> types() = 0;
    // Absent when the owner gives no data for the type within the backend's
    // bounds. `stop` is polled during long transfers; true abandons them.
    virtual std::optional<PasteboardBytes> data(const std::string& type,
                                                const std::function<bool()>& stop) = 0;
};

// The general pasteboard (the CLIPBOARD selection on X11).
class Pasteboard {
  public:
    virtual ~Pasteboard() = default;

    // Raised by every write, ours and other applications' (an application
    // that quits and leaves it empty wrote nothing). Any thread.
    virtual int64_t changeCount() const = 0;

    // Main thread; never waits on a server. Clears the pasteboard and writes
    // these items (none: it is left empty). The change count is raised
    // before this returns.
    virtual void setItems(std::vector<PasteboardItem> items) = 0;

    // Snapshot queue. The current items, fetched once; reading may take
    // long but every wait is bounded.
    virtual std::vector<std::shared_ptr<PasteboardItemReader>> readItems() = 0;

    // The type a plain string is written as.
    virtual std::string plainTextType() const = 0;
    // Text and link types, captured first and never skipped for size.
    virtual std::vector<std::string> preferredTypes() const = 0;
};

// Every item we write carries this type so that clipboard-history tools skip it.
inline constexpr const char* kTransientPasteboardType = "org.nspasteboard.TransientType";

}  // namespace velmarune
