#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "foundation/UserDefaults.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> asideFiles(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with("settings.json.malformed-")) {
            names.push_back(entry.path().string());
        }
    }
    return names;
}

class SettingsFileTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    fs::path file = dir / "velmarune/settings.json";  // the folder is made on the first save
    std::vector<std::string> problems;
    FileUserDefaults defaults{file, [this](const std::string& p) { problems.push_back(p); }};
};

TEST_F(SettingsFileTest, PersistsAtomicallyWithPrivateMode) {
    EXPECT_FALSE(defaults.boolValue("DiagnosticPasteLog"));
    defaults.setBool("DiagnosticPasteLog", true);
    defaults.setInteger("pttDwellMs", 40);
    defaults.setString("pttLanguage", "he");
    defaults.setDictionary("pttBinding", nlohmann::json{{"modifiers", 393216}});
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    FileUserDefaults reread(file);
    EXPECT_EQ(reread.boolValue("DiagnosticPasteLog"), true);
    EXPECT_EQ(reread.integerValue("pttDwellMs"), 40);
    EXPECT_EQ(reread.doubleValue("pttDwellMs"), 40.0);
    EXPECT_EQ(reread.stringValue("pttLanguage"), "he");
    EXPECT_EQ(reread.stringValue("pttDwellMs"), std::nullopt);
    EXPECT_EQ((*reread.dictionaryValue("pttBinding"))["modifiers"], 393216);
    reread.remove("pttLanguage");
    EXPECT_EQ(defaults.stringValue("pttLanguage"), std::nullopt);

    // An edit by hand is seen on the next read.
    testing::writeFile(file, R"({"pttLanguage": "en"})");
    EXPECT_EQ(reread.stringValue("pttLanguage"), "en");
    EXPECT_TRUE(problems.empty());
}

// Something that exists but cannot be read as a file (as root, a folder is
// the one thing a permission cannot stand in for).
TEST_F(SettingsFileTest, AFileThatCannotBeReadIsReportedOnceAndNeverOverwritten) {
    fs::create_directories(file / "inside");
    EXPECT_EQ(defaults.stringValue("pttLanguage"), std::nullopt);
    EXPECT_EQ(defaults.boolValue("DiagnosticPasteLog"), std::nullopt);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].starts_with("cannot read the settings file " + file.string() + ": "))
        << problems[0];
    EXPECT_TRUE(problems[0].ends_with("; using the defaults and leaving the file as it is"));

    EXPECT_FALSE(defaults.setString("pttLanguage", "he"));
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_TRUE(problems[1].starts_with("did not save the setting pttLanguage: the settings file "))
        << problems[1];
    EXPECT_TRUE(fs::is_directory(file / "inside"));
    EXPECT_TRUE(asideFiles(file.parent_path()).empty());
}

TEST_F(SettingsFileTest, ANestedOrBrokenFileIsMovedAsideAndReported) {
    const std::string deep = std::string(200'000, '[') + std::string(200'000, ']');
    for (const std::string& text : {deep, "{\"a\": " + deep + "}", std::string("{\"a\": 1,,}")}) {
        problems.clear();
        testing::writeFile(file, text);
        EXPECT_EQ(defaults.stringValue("pttLanguage"), std::nullopt);
        const auto aside = asideFiles(file.parent_path());
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(testing::readFile(aside[0]), text);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0], "the settings file " + file.string() +
                                   " was not valid; moved it to " + aside[0] +
                                   " and started with the defaults");
        fs::remove(aside[0]);
    }
    // Nesting that settings really use still reads.
    testing::writeFile(file, R"({"pttBinding": {"keys": [[1, 2], [3]]}})");
    EXPECT_TRUE(defaults.dictionaryValue("pttBinding"));
}

TEST_F(SettingsFileTest, AChangeThatCannotBeSavedReturnsFalseAndIsReported) {
    testing::writeFile(dir / "blocked", "");
    FileUserDefaults blocked(dir / "blocked/settings.json",
                             [this](const std::string& p) { problems.push_back(p); });
    EXPECT_FALSE(blocked.setBool("DiagnosticPasteLog", true));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].starts_with("could not save the settings to " +
                                        (dir / "blocked/settings.json").string()))
        << problems[0];
    EXPECT_TRUE(defaults.setBool("DiagnosticPasteLog", true));
}

TEST_F(SettingsFileTest, IntegersOutOfRangeReadAsAbsent) {
    testing::writeFile(file, R"({"a": 1e300, "b": -1e300, "c": 18446744073709551615, "d": 2.9})");
    for (const char* key : {"a", "b", "c"}) {
        EXPECT_EQ(defaults.integerValue(key), std::nullopt) << key;
    }
    EXPECT_EQ(defaults.integerValue("d"), 2);
    EXPECT_TRUE(problems.empty());
}

}  // namespace
}  // namespace velmarune
