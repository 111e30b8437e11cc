#include <gtest/gtest.h>

#include <algorithm>

#include "delivery/TerminalPasteClasses.h"

namespace velmarune {
namespace {

TEST(TerminalPasteClasses, TheSettingReplacesTheDefaultsWhenItNamesAny) {
    const std::vector<std::pair<std::optional<std::string>, std::vector<std::string>>> cases = {
        {std::nullopt, defaultTerminalPasteClasses()},
        {"", defaultTerminalPasteClasses()},
        {" , ,", defaultTerminalPasteClasses()},
        {"kitty", {"kitty"}},
        {"kitty, XTerm\tfoot,,", {"kitty", "XTerm", "foot"}},
    };
    for (const auto& [stored, expected] : cases) {
        MemoryUserDefaults defaults;
        if (stored) {
            defaults.setString(kTerminalPasteClassesKey, *stored);
        }
        EXPECT_EQ(terminalPasteClasses(defaults), expected) << stored.value_or("(unset)");
    }
    const auto defaults = defaultTerminalPasteClasses();
    EXPECT_NE(std::find(defaults.begin(), defaults.end(), "xterm"), defaults.end());
}

}  // namespace
}  // namespace velmarune
