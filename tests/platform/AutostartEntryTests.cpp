#include <gtest/gtest.h>

#include "platform/linux/XdgAutostartLoginItem.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(AutostartEntry, ExecQuotingRoundTripsPathsWithReservedCharacters) {
    for (const std::string path :
         {"/usr/bin/velmarune", "/home/a b/build/velmarune", "/tmp/q\"uote/v", "/tmp/$HOME/v",
          "/tmp/back\\slash/v", "/tmp/100%/v", "/tmp/tick`/v"}) {
        EXPECT_EQ(desktopExecProgram(desktopExecQuote(path)), path) << path;
    }
    // Entries written by hand or by other tools.
    EXPECT_EQ(desktopExecProgram("/usr/bin/velmarune --hidden"), "/usr/bin/velmarune");
    EXPECT_EQ(desktopExecProgram("\"/opt/my apps/velmarune\" %U"), "/opt/my apps/velmarune");
    EXPECT_EQ(desktopExecQuote("/tmp/100%/v"), "\"/tmp/100%%/v\"");
}

struct RefreshCase {
    const char* name;
    const char* existingExec;  // nullptr: no entry; "OTHER": a live executable; "GONE": missing
    bool installed;
    bool switchedOff;
    const char* expectedExec;  // "US", "OTHER", "GONE", nullptr: still no entry
};

TEST(AutostartEntry, RefreshRewritesStaleEntriesInPlaceAndRespectsTheUsersChoice) {
    const RefreshCase cases[] = {
        {"no entry: nothing registered behind the user's back", nullptr, true, false, nullptr},
        {"entry for a program that moved away", "GONE", false, false, "US"},
        {"build folder leaves an installed copy's entry alone", "OTHER", false, false, "OTHER"},
        {"installed copy takes over a live build folder's entry", "OTHER", true, false, "US"},
        {"our own older entry gains the new fields", "US", false, false, "US"},
        {"switched off by the user stays off", "GONE", true, true, "US"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto us = dir / "prefix/bin/velmarune";
        const auto other = dir / "build/velmarune";
        writeFile(other, "#!/bin/sh\n");
        auto pathFor = [&](const std::string& which) {
            return which == "US" ? us : which == "OTHER" ? other : dir / "gone/velmarune";
        };
        XdgAutostartLoginItem item(dir / "autostart", us, c.installed);
        if (c.existingExec != nullptr) {
            // The form older versions wrote: no icon, quoted path.
            std::string old = "[Desktop Entry]\nType=Application\nName=Velmarune\nExec=\"" +
                              pathFor(c.existingExec).string() + "\"\n";
            if (c.switchedOff) {
                old += "X-GNOME-Autostart-enabled=false\n";
            }
            writeFile(item.entryPath(), old);
        }

        item.refreshRegistration();

        if (c.expectedExec == nullptr) {
            EXPECT_FALSE(std::filesystem::exists(dir / "autostart"));
            continue;
        }
        const std::string text = readFile(item.entryPath());
        const std::string expected = pathFor(c.expectedExec).string();
        EXPECT_NE(text.find("Exec=\"" + expected + "\"\n"), std::string::npos) << text;
        if (std::string(c.expectedExec) == "US") {
            EXPECT_NE(text.find("TryExec=" + expected + "\n"), std::string::npos) << text;
            EXPECT_NE(text.find("Icon=com.quorin.velmarune\n"), std::string::npos) << text;
            EXPECT_NE(text.find(c.switchedOff ? "X-GNOME-Autostart-enabled=false\n"
                                              : "X-GNOME-Autostart-enabled=true\n"),
                      std::string::npos)
                << text;
        }
        EXPECT_EQ(item.isRegistered(), !c.switchedOff);
        // Rewritten in place: still exactly one entry, no temporary left over.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "autostart"),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

}  // namespace
}  // namespace velmarune
