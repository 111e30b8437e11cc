#include <gtest/gtest.h>

#include "recognition/EngineSettings.h"

namespace velmarune {
namespace {

// A settings file that cannot be written (a full disk, a read-only home).
class UnwritableDefaults : public MemoryUserDefaults {
  protected:
    bool store(const std::string&, const std::optional<nlohmann::json>&) override { return false; }
};

TEST(EngineSwitches, OnlyASwitchReadAtLoadReloadsTheEnginesAndOnlyWhenItChanged) {
    const EngineSwitch faster = engineSwitches().front();
    const EngineSwitch gpu{kUseGpuKey, kUseGpuTitle, "", true, true};
    struct Case {
        const EngineSwitch& choice;
        bool on;
        int reloads;
    };
    const Case cases[] = {{faster, true, 0}, {faster, false, 0}, {gpu, true, 0}, {gpu, false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.choice.key) + (c.on ? " on" : " off"));
        MemoryUserDefaults defaults;
        int reloads = 0;
        EXPECT_TRUE(c.choice.set(defaults, c.on, [&] { ++reloads; }));
        EXPECT_EQ(c.choice.isOn(defaults), c.on);
        EXPECT_EQ(reloads, c.reloads);
    }
}

TEST(EngineSwitches, TheFasterEncoderReachesTheNextDecodeWithoutAReload) {
    MemoryUserDefaults defaults;
    const auto options = engineOptionsFrom(defaults);
    EXPECT_FALSE(options.fasterEncoder());
    engineSwitches().front().set(defaults, true, [] { FAIL() << "reloaded"; });
    EXPECT_TRUE(options.fasterEncoder());
}

TEST(EngineSwitches, AChoiceThatCouldNotBeSavedIsNotAppliedOrShownAsSaved) {
    UnwritableDefaults defaults;
    const EngineSwitch gpu{kUseGpuKey, kUseGpuTitle, "", true, true};
    EXPECT_FALSE(gpu.set(defaults, false, [] { FAIL() << "reloaded without the setting"; }));
    EXPECT_TRUE(gpu.isOn(defaults));
}

}  // namespace
}  // namespace velmarune
