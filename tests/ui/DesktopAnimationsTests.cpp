#include <gtest/gtest.h>

#include "ui/DesktopAnimations.h"

namespace velmarune {
namespace {

TEST(DesktopAnimations, ReadsGnomeAndKdeSettingsAndIgnoresWhatItCannotRead) {
    EXPECT_EQ(DesktopAnimations::parseGnome("false\n"), false);
    EXPECT_EQ(DesktopAnimations::parseGnome("true\n"), true);
    EXPECT_EQ(DesktopAnimations::parseGnome("No such schema\n"), std::nullopt);

    struct Case {
        const char* kdeglobals;
        std::optional<bool> enabled;
    };
    const Case cases[] = {
        {"[KDE]\nAnimationDurationFactor=0\n", false},
        {"[General]\nName=x\n[KDE]\nSingleClick=false\nAnimationDurationFactor = 0.5\n", true},
        {"[General]\nAnimationDurationFactor=0\n", std::nullopt},  // another group
        {"[KDE]\nAnimationDurationFactor=fast\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DesktopAnimations::parseKde(c.kdeglobals), c.enabled) << c.kdeglobals;
    }
}

}  // namespace
}  // namespace velmarune
