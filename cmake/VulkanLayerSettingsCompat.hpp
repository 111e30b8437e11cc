// Debian 12's Vulkan headers (1.3.239) predate VK_EXT_layer_settings, which
// ggml's Vulkan backend names when it creates its instance (to pass a setting
// to the validation layer, which ordinary runs do not load). These
// declarations follow the extension's layout; force-included into that one
// target, and only when the installed headers lack them. Only the C header
// here: ggml configures vulkan.hpp's dispatcher before it includes it.
#pragma once

#include <cstdint>
#include <vector>

#include <vulkan/vulkan_core.h>

#ifndef VK_EXT_layer_settings
namespace vk {

enum class LayerSettingTypeEXT : int32_t {
    eBool32 = 0,
    eInt32 = 1,
    eInt64 = 2,
    eUint32 = 3,
    eUint64 = 4,
    eFloat32 = 5,
    eFloat64 = 6,
    eString = 7,
};

struct LayerSettingEXT {
    const char* pLayerName = nullptr;
    const char* pSettingName = nullptr;
    LayerSettingTypeEXT type = LayerSettingTypeEXT::eBool32;
    uint32_t valueCount = 0;
    const void* pValues = nullptr;
};

struct LayerSettingsCreateInfoEXT {
    explicit LayerSettingsCreateInfoEXT(const std::vector<LayerSettingEXT>& settings)
        : settingCount(static_cast<uint32_t>(settings.size())), pSettings(settings.data()) {}
    // VK_STRUCTURE_TYPE_LAYER_SETTINGS_CREATE_INFO_EXT
    VkStructureType sType = static_cast<VkStructureType>(1000496000);
    const void* pNext = nullptr;
    uint32_t settingCount;
    const LayerSettingEXT* pSettings;
};

}  // namespace vk
#endif
