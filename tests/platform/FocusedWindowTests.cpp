#include "platform/wayland/FocusedWindow.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace velmarune {
namespace {

// A sway tree with one output, one workspace and the given windows in it.
nlohmann::json tree(nlohmann::json windows, bool workspaceFocused = false) {
    return {{"type", "root"},
            {"focused", false},
            {"nodes",
             {{{"type", "output"},
               {"focused", false},
               {"nodes",
                {{{"type", "workspace"},
                  {"focused", workspaceFocused},
                  {"nodes", nlohmann::json::array()},
                  {"floating_nodes", std::move(windows)}}}}}}}};
}

TEST(FocusedWindow, TheFocusedNodeOfASwayTreeNamesTheWindow) {
    const auto foot = nlohmann::json{
        {"type", "con"}, {"id", 4}, {"focused", true}, {"app_id", "foot"}, {"pid", 312}};
    const auto xterm =
        nlohmann::json{{"type", "floating_con"},
                       {"id", 9},
                       {"focused", true},
                       {"app_id", nullptr},
                       {"pid", 77},
                       {"window_properties", {{"class", "XTerm"}, {"instance", "xterm"}}}};
    const auto nameless = nlohmann::json{{"type", "con"}, {"id", 5}, {"focused", true}};
    auto unfocused = foot;
    unfocused["focused"] = false;

    struct Case {
        nlohmann::json tree;
        std::optional<std::string> identity;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {tree({foot}), "foot:312", {"foot"}},
        {tree({unfocused, xterm}), "XTerm:77", {"xterm", "XTerm"}},
        {tree({nameless}), "?:0", {}},
        {tree({unfocused}, true), std::nullopt, {}},  // an empty workspace has the focus
        {tree({unfocused}), std::nullopt, {}},
        {nlohmann::json::array(), std::nullopt, {}},
    };
    for (const auto& c : cases) {
        const auto window = focusedInSwayTree(c.tree);
        ASSERT_EQ(window.has_value(), c.identity.has_value()) << c.tree.dump();
        if (window) {
            EXPECT_EQ(window->identity(), *c.identity);
            EXPECT_EQ(window->names, c.names);
        }
    }
}

}  // namespace
}  // namespace velmarune
