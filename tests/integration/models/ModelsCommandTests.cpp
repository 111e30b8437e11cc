#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "foundation/UserDefaults.h"
#include "integration/models/LoopbackHttpServer.h"
#include "shell/ModelsCommand.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class ModelsCommandTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server.running()); }

    ModelCatalog catalog() {
        ModelEntry broken =
            server.serve("broken-test", std::string(200'000, 'x'), "files", "multilingual");
        broken.sha256 = std::string(64, '0');  // what no body hashes to
        return ModelCatalog(
            {server.serve("hebrew-test", std::string(300'000, 'h')),
             server.serve("multi-test", std::string(200'000, 'm'), "redirect", "multilingual"),
             broken});
    }

    int run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        ModelsCommand command({paths, defaults, out, err, false, catalog(),
                               [](const std::filesystem::path&) { return std::nullopt; }});
        return command.run(args);
    }

    TempDir root;
    TempDir served;
    testing::LoopbackHttpServer server{served.path()};
    Paths paths = Paths::underRoot(root.path());
    MemoryUserDefaults defaults;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(ModelsCommandTest, DownloadsWithProgressThenUsesTheModel) {
    ASSERT_EQ(run({"download", "multi-test"}), 0) << err.str();
    const std::string log = out.str();
    EXPECT_THAT(log, HasSubstr("100%  200 kB of 200 kB"));
    EXPECT_THAT(log, HasSubstr("Verifying the SHA-256 digest…"));
    EXPECT_THAT(log, HasSubstr("Use it with: velmarune models use multi-test"));
    EXPECT_EQ(readFile(paths.modelsFolder() / "multi-test.bin"), std::string(200'000, 'm'));
    // Downloading never changes the slots.
    EXPECT_FALSE(defaults.stringValue("multilingualModelPath"));

    ASSERT_EQ(run({"use", "multi-test"}), 0) << err.str();
    EXPECT_EQ(out.str(), "Multilingual slot now uses multi-test (" +
                             (paths.modelsFolder() / "multi-test.bin").string() + ")\n");

    ASSERT_EQ(run({}), 0);
    const std::string listing = out.str();
    EXPECT_THAT(listing, HasSubstr("  multi-test   200 kB   installed      Multilingual\n"));
    EXPECT_THAT(listing, HasSubstr("  hebrew-test  300 kB   not installed  -\n"));
    EXPECT_THAT(listing,
                HasSubstr("Still needing a model:\n  Hebrew: No model assigned to Hebrew slot.\n"));
    EXPECT_THAT(listing, Not(HasSubstr("  Multilingual: No model")));
}

TEST_F(ModelsCommandTest, FailuresAndMistakesExitNonZeroWithAClearMessage) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"download", "broken-test"},
         1,
         "velmarune models: download of broken-test failed: File verification failed. Try "
         "again.\n"},
        {{"use", "hebrew-test"},
         1,
         "velmarune models: hebrew-test is not installed. Download it first: velmarune models "
         "download hebrew-test\n"},
        {{"download", "nope"},
         2,
         "velmarune models: unknown model 'nope'. Known models: hebrew-test multi-test "
         "broken-test\n"},
        {{"use", "nope"}, 2, "velmarune models: unknown model 'nope'."},
        {{"download"}, 2, "usage: velmarune models"},
        {{"download", "multi-test", "--from"}, 2, "usage: velmarune models"},
        {{"frob"}, 2, "usage: velmarune models"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(run(c.args), c.status);
        EXPECT_THAT(err.str(), HasSubstr(c.message));
    }
    EXPECT_FALSE(std::filesystem::exists(paths.modelsFolder() / "broken-test.bin"));
    EXPECT_FALSE(defaults.stringValue("hebrewModelPath"));
}

TEST_F(ModelsCommandTest, DownloadsFromAMirrorAndStillVerifies) {
    // The mirror serves installed names.
    const std::string mirror = server.url("files");
    ASSERT_EQ(run({"download", "hebrew-test", "--from", "http://127.0.0.1:1"}), 1);
    ASSERT_EQ(run({"download", "multi-test", "--from", mirror}), 0) << err.str();
    EXPECT_THAT(out.str(), HasSubstr("from " + mirror + "/multi-test.bin to "));
    EXPECT_EQ(readFile(paths.modelsFolder() / "multi-test.bin"), std::string(200'000, 'm'));
}

TEST_F(ModelsCommandTest, ASettingThatCannotBeSavedIsAnError) {
    writeFile(paths.modelsFolder() / "multi-test.bin", "installed");
    // A plain file where the settings folder should be.
    writeFile(root / "blocked", "");
    FileUserDefaults unsaved(root / "blocked/settings.json");
    ModelsCommand command({paths, unsaved, out, err, false, catalog(),
                           [](const std::filesystem::path&) { return std::nullopt; }});
    EXPECT_EQ(command.run({"use", "multi-test"}), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(
        err.str(),
        "velmarune models: the settings were not saved; the Multilingual slot is unchanged\n");
}

}  // namespace
}  // namespace velmarune
