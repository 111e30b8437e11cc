#pragma once

#include <string>

#include "foundation/Error.h"
#include "models/ModelSlot.h"

namespace velmarune {

// Why a model slot gives no usable file; what() is the user-facing text.
class ModelLocatorError : public Error {
  public:
    enum class Kind { slotUnassigned, fileMissing };

    static ModelLocatorError slotUnassigned(ModelSlot slot) {
        return {Kind::slotUnassigned,
                slot,
                {},
                "No model assigned to " + modelSlotDisplayWord(slot) + " slot."};
    }
    static ModelLocatorError fileMissing(ModelSlot slot, const std::string& path) {
        return {Kind::fileMissing, slot, path,
                modelSlotDisplayWord(slot) + " slot points to a missing file: " + path};
    }

    Kind kind() const { return m_kind; }
    ModelSlot slot() const { return m_slot; }
    const std::string& path() const { return m_path; }  // fileMissing: the expanded path tested

  private:
    ModelLocatorError(Kind kind, ModelSlot slot, std::string path, const std::string& message)
        : Error(message), m_kind(kind), m_slot(slot), m_path(std::move(path)) {}

    Kind m_kind;
    ModelSlot m_slot;
    std::string m_path;
};

}  // namespace velmarune
