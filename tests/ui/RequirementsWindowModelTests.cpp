#include <gtest/gtest.h>

#include "requirements/HardwareCheck.h"
#include "ui/RequirementsWindowModel.h"

namespace velmarune {
namespace {

using Item = CheckLine::Item;

CheckReport report(CheckOutcome disk, CheckOutcome microphone) {
    CheckReport r;
    r.lines = {{Item::processor, CheckOutcome::pass, "Test CPU, 8 cores", ""},
               {Item::memory, CheckOutcome::pass, "32 GB", ""},
               {Item::disk, disk, "1.0 GB free", disk == CheckOutcome::pass ? "" : "Free up."},
               {Item::session, CheckOutcome::pass, "X11", ""},
               {Item::microphone, microphone, "No sound server", "Start it."}};
    r.outcome = std::max(disk, microphone);
    return r;
}

TEST(RequirementsWindowModelTest, ButtonsFollowTheOutcomeAndCheckAgainRedraws) {
    // The disk is full at first; the user frees space and checks again.
    CheckOutcome disk = CheckOutcome::block;
    HardwareCheckModel model([&disk] { return report(disk, CheckOutcome::warn); });
    std::vector<RequirementsWindowContent> drawn;
    Subscription redraws = model.report().subscribe(
        [&](const CheckReport& r) { drawn.push_back(RequirementsWindowContent::from(r)); });

    const auto blocked = RequirementsWindowContent::from(model.report().get());
    EXPECT_EQ(blocked.headline, "Velmarune can't start yet");
    EXPECT_FALSE(blocked.offersContinue);
    EXPECT_TRUE(blocked.offersCheckAgain);
    EXPECT_EQ(blocked.questionsLink,
              "mailto:support@velmarune.org?subject=Velmarune%20requirements");

    model.evaluate();  // nothing changed: no redraw
    EXPECT_TRUE(drawn.empty());

    disk = CheckOutcome::pass;
    model.evaluate();
    ASSERT_EQ(drawn.size(), 1u);
    // Only the microphone still warns: the warn headline, and Continue is offered.
    EXPECT_EQ(drawn[0].headline, "Velmarune will run on this computer");
    EXPECT_TRUE(drawn[0].offersContinue);
    EXPECT_FALSE(drawn[0].offersCheckAgain);
    EXPECT_EQ(drawn[0].questionsLink, "");
    ASSERT_EQ(drawn[0].rows.size(), 5u);
    EXPECT_EQ(drawn[0].rows[2], (RequirementsWindowContent::Row{CheckOutcome::pass, "Disk space",
                                                                "1.0 GB free", ""}));
}

TEST(RequirementsWindowModelTest, DownloadRowsSayWhereEachModelIs) {
    const ModelEntry entry{"m", "Test model", "", "", "", 2'000'000, "he", "m.bin"};
    struct Case {
        std::optional<DownloadState> state;
        bool installed;
        ModelDownloadRow expected;
    };
    const Case cases[] = {
        {DownloadState{0.426, true, false, {}}, false, {"Test model (2 MB)", 0.426, "42 %"}},
        {DownloadState{1.0, true, true, {}}, false, {"Test model (2 MB)", 1.0, "Verifying…"}},
        {DownloadState{0.3, false, false, "The digest did not match."},
         false,
         {"Test model (2 MB)", 0.0, "Failed: The digest did not match.", true}},
        {std::nullopt, true, {"Test model (2 MB)", 1.0, "Installed", false, true}},
        {std::nullopt, false, {"Test model (2 MB)", 0.0, "Waiting"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModelDownloadRow::from(entry, c.state, c.installed), c.expected)
            << c.expected.status;
    }
}

}  // namespace
}  // namespace velmarune
