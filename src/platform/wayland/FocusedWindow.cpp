#include "platform/wayland/FocusedWindow.h"

#include <cstdint>
#include <nlohmann/json.hpp>

namespace velmarune {

std::string FocusedWindow::identity() const {
    // An X11 window's class comes last, as on X11 itself.
    const std::string name = names.empty() ? "?" : names.back();
    return name + ":" + std::to_string(pid);
}

namespace {

std::string stringField(const nlohmann::json& node, const char* key) {
    auto it = node.find(key);
    return it != node.end() && it->is_string() ? it->get<std::string>() : std::string();
}

const nlohmann::json* findFocused(const nlohmann::json& node, int depth) {
    // Real trees are a few levels deep; a runaway one is not followed.
    if (!node.is_object() || depth > 64) {
        return nullptr;
    }
    if (node.value("focused", false)) {
        return &node;
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        auto it = node.find(children);
        if (it == node.end() || !it->is_array()) {
            continue;
        }
        for (const auto& child : *it) {
            if (const auto* found = findFocused(child, depth + 1)) {
                return found;
            }
        }
    }
    return nullptr;
}

uint32_t pidField(const nlohmann::json& node) {
    auto pid = node.find("pid");
    if (pid == node.end() || !pid->is_number_integer()) {
        return 0;
    }
    const auto value = pid->get<int64_t>();
    return value > 0 && value <= INT32_MAX ? static_cast<uint32_t>(value) : 0;
}

}  // namespace

std::optional<FocusedWindow> focusedInHyprlandWindow(const nlohmann::json& window) {
    const std::string address = window.is_object() ? stringField(window, "address") : "";
    if (address.empty()) {
        return std::nullopt;
    }
    FocusedWindow focused{address, {}, pidField(window)};
    // Hyprland calls the app_id (or an X11 window's class) "class".
    const std::string name = stringField(window, "class");
    if (!name.empty()) {
        focused.names.push_back(name);
    }
    return focused;
}

std::optional<FocusedWindow> focusedInSwayTree(const nlohmann::json& tree) {
    const nlohmann::json* node = findFocused(tree, 0);
    if (!node) {
        return std::nullopt;
    }
    const std::string type = stringField(*node, "type");
    if (type != "con" && type != "floating_con") {
        return std::nullopt;  // a workspace or an output: no window in front
    }
    FocusedWindow window;
    if (auto id = node->find("id"); id != node->end() && id->is_number_integer()) {
        window.id = std::to_string(id->get<int64_t>());
    }
    window.pid = pidField(*node);
    const std::string appID = stringField(*node, "app_id");
    if (!appID.empty()) {
        window.names.push_back(appID);
    } else if (auto props = node->find("window_properties");
               props != node->end() && props->is_object()) {
        for (const char* key : {"instance", "class"}) {
            const std::string name = stringField(*props, key);
            if (!name.empty()) {
                window.names.push_back(name);
            }
        }
    }
    return window;
}

}  // namespace velmarune
