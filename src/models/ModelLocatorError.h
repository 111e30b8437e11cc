#pragma once

#include <string>

#include "foundation/Error.h"
#include "models/ModelSlot.h"

namespace velmarune {

// Why a slot cannot give the engine loader a model file.
class ModelLocatorError : public Error {
  public:
    enum class Kind { slotUnassigned, fileMissing };

    static ModelLocatorError slotUnassigned(ModelSlot slot) {
        return ModelLocatorError(Kind::slotUnassigned, slot, {},
                                 "No model assigned to " + modelSlotDisplayWord(slot) + " slot.");
    }
    // `path` is the tilde-expanded path that was tested.
    static ModelLocatorError fileMissing(ModelSlot slot, const std::string& path) {
        return ModelLocatorError(
            Kind::fileMissing, slot, path,
            modelSlotDisplayWord(slot) + " slot points to a missing file: " + path);
    }

    Kind kind() const { return m_kind; }
    ModelSlot slot() const { return m_slot; }
    const std::string& path() const { return m_path; }

  private:
    ModelLocatorError(Kind kind, ModelSlot slot, std::string path, const std::string& text)
        : Error(text), m_kind(kind), m_slot(slot), m_path(std::move(path)) {}

    Kind m_kind;
    ModelSlot m_slot;
    std::string m_path;
};

}  // namespace velmarune
