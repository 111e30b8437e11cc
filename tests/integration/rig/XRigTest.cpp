#include <gtest/gtest.h>

#include <cstdlib>

#include "support/XRig.h"

namespace velmarune::testing {
namespace {

TEST(XRig, StartsAServerWithAWindowManagerAndStopsIt) {
    std::string display;
    {
        XRig rig;
        ASSERT_TRUE(rig.ok());
        display = rig.display();
        EXPECT_EQ(
            std::system(("xprop -display " + display + " -root _NET_ACTIVE_WINDOW >/dev/null 2>&1")
                            .c_str()),
            0);
    }
    EXPECT_NE(std::system(("xprop -display " + display + " -root >/dev/null 2>&1").c_str()), 0);
}

}  // namespace
}  // namespace velmarune::testing
