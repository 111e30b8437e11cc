#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>

#include "shell/SoftwareCentre.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(SoftwareCentre, OffersCheckForUpdatesOnlyWhenSomethingHandlesAppStreamLinks) {
    struct Case {
        const char* name;
        const char* xdgMime;  // script body; nullptr: not installed
        bool offered;
    };
    const Case cases[] = {
        {"a software centre is registered", "echo org.gnome.Software.desktop", true},
        {"no handler: xdg-mime prints nothing", "exit 0", false},
        {"xdg-mime fails", "echo oops >&2; exit 4", false},
        {"xdg-mime hangs: the bound wins", "exec /bin/sleep 30", false},
        {"xdg-utils not installed", nullptr, false},
    };
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const std::string savedPath = std::getenv("PATH");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir bin;
        if (c.xdgMime != nullptr) {
            writeFile(bin / "xdg-mime", std::string("#!/bin/sh\n") + c.xdgMime + "\n");
            std::filesystem::permissions(bin / "xdg-mime", std::filesystem::perms::owner_all);
        }
        // PATH holds only these scripts, so they name what they need in full.
        // xdg-open records the link it was asked to open.
        writeFile(bin / "xdg-open",
                  "#!/bin/sh\necho \"$@\" > '" + (bin / "opened").string() + "'\n");
        std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
        setenv("PATH", bin.path().c_str(), 1);

        bool offered = false;
        QObject owner;
        findSoftwareCentre(
            &owner,
            [&](std::function<void()> open) {
                offered = true;
                open();
            },
            0.5);
        testing::waitUntil(
            [&] {
                app.processEvents(QEventLoop::AllEvents, 50);
                return offered && std::filesystem::exists(bin / "opened");
            },
            1.5, 0.0);
        setenv("PATH", savedPath.c_str(), 1);
        EXPECT_EQ(offered, c.offered);
        if (c.offered) {
            EXPECT_EQ(readFile(bin / "opened"), "appstream:com.quorin.velmarune\n");
        }
    }
}

}  // namespace
}  // namespace velmarune
