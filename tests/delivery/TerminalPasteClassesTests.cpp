#include <gtest/gtest.h>

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
}

TEST(TerminalPasteClasses, TerminalsGetControlShiftVWhicheverNameMatches) {
    const std::vector<std::pair<std::vector<std::string>, PasteChord>> cases = {
        {{"xterm", "XTerm"}, PasteChord::controlShiftV},
        {{"gnome-terminal-server", "Gnome-terminal"}, PasteChord::controlShiftV},
        {{"KITTY"}, PasteChord::controlShiftV},
        {{"gedit", "Gedit"}, PasteChord::controlV},
        {{"xterm-like"}, PasteChord::controlV},
        {{}, PasteChord::controlV},
    };
    for (const auto& [names, chord] : cases) {
        EXPECT_EQ(pasteChordFor(names, defaultTerminalPasteClasses()), chord)
            << (names.empty() ? "(no window)" : names.front());
    }
}

}  // namespace
}  // namespace velmarune
