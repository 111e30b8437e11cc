#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "models/ModelEntry.h"
#include "models/ModelSlot.h"

namespace velmarune {

// The ordered list of models the application can download. The product uses
// standard(); tests may build one that points at a loopback server.
class ModelCatalog {
  public:
    explicit ModelCatalog(std::vector<ModelEntry> entries);

    // The three compiled-in entries, in the order the user sees them.
    static const ModelCatalog& standard();

    const std::vector<ModelEntry>& entries() const { return m_entries; }
    // Entries the slot accepts, in catalogue order.
    std::vector<ModelEntry> entries(ModelSlot slot) const;
    std::optional<ModelEntry> entry(std::string_view id) const;

  private:
    std::vector<ModelEntry> m_entries;
};

}  // namespace velmarune
