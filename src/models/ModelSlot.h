#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmarune {

// The two model slots, in listing order.
enum class ModelSlot { hebrew, multilingual };

inline constexpr ModelSlot kAllModelSlots[] = {ModelSlot::hebrew, ModelSlot::multilingual};

// "hebrew" / "multilingual": persisted and logged.
inline std::string modelSlotRawValue(ModelSlot slot) {
    return slot == ModelSlot::hebrew ? "hebrew" : "multilingual";
}
inline std::optional<ModelSlot> modelSlotFromRawValue(std::string_view raw) {
    if (raw == "hebrew") {
        return ModelSlot::hebrew;
    }
    if (raw == "multilingual") {
        return ModelSlot::multilingual;
    }
    return std::nullopt;
}
// "Hebrew" / "Multilingual": the word used in messages.
inline std::string modelSlotDisplayWord(ModelSlot slot) {
    return slot == ModelSlot::hebrew ? "Hebrew" : "Multilingual";
}
// The catalogue entries a slot accepts are those with this language tag.
inline std::string modelSlotLanguageTag(ModelSlot slot) {
    return slot == ModelSlot::hebrew ? "he" : "multilingual";
}
// The user-defaults key that holds the slot's model path.
inline std::string modelSlotDefaultsKey(ModelSlot slot) {
    return slot == ModelSlot::hebrew ? "hebrewModelPath" : "multilingualModelPath";
}

}  // namespace velmarune
