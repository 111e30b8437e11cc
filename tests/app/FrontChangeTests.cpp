#include "app/FrontChange.h"

#include <gtest/gtest.h>

namespace velmarune {
namespace {

TEST(FrontChange, NamedIdentitiesAreComparedUnknownOnesNeedAnActivation) {
    struct Case {
        std::optional<std::string> atRelease;
        uint64_t activationsAtRelease;
        std::optional<std::string> now;
        uint64_t activationsNow;
        bool changed;
    };
    const std::optional<std::string> none;
    const Case cases[] = {
        {"foot:10", 1, "foot:10", 3, false},  // refocused the same application
        {"foot:10", 1, "firefox:22", 2, true},
        {"foot:10", 1, "foot:11", 1, true},  // another process of it
        // Nothing to compare with: the paste goes ahead.
        {none, 0, "foot:10", 5, false},
        {"foot:10", 0, none, 5, false},
        // "?:0" and "?:0" may be two different applications.
        {"?:0", 4, "?:0", 4, false},
        {"?:0", 4, "?:0", 5, true},
        {"foot:10", 4, "?:0", 5, true},
        {"?:0", 4, "foot:10", 4, false},
        {"?:7", 1, "?:7", 2, false},  // a pid alone still names the process
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frontChanged(c.atRelease, c.activationsAtRelease, c.now, c.activationsNow),
                  c.changed)
            << c.atRelease.value_or("none") << " -> " << c.now.value_or("none") << " after "
            << c.activationsNow - c.activationsAtRelease << " activations";
    }
}

}  // namespace
}  // namespace velmarune
