#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "foundation/Log.h"
#include "foundation/Resources.h"
#include "requirements/Requirements.h"
#include "support/CapturingLogSink.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

using nlohmann::json;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::filesystem::path kShippedRules =
    std::filesystem::path(VELMARUNE_SOURCE_DIR) / "resources" / "requirements.json";

TEST(RequirementsFileTest, ShippedRulesDecodeAndNameCatalogueModels) {
    const Requirements rules = decodeRequirements(readFile(kShippedRules));
    const ModelCatalog& catalog = ModelCatalog::standard();
    for (const std::string& id : rules.modelIDs()) {
        EXPECT_TRUE(catalog.entry(id)) << id;
    }
    // The warn texts promise the lighter Hebrew model.
    EXPECT_EQ(rules.warnModels.hebrew, "ivrit-ai-large-v3-turbo");
    EXPECT_EQ(rules.okModels.hebrew, "ivrit-ai-large-v3");
    // Finding the folder from the build tree reaches the same file.
    EXPECT_TRUE(std::filesystem::exists(resourcesFolder() / "requirements.json"));
}

TEST(RequirementsFileTest, BrokenRulesNameTheFirstFault) {
    struct Case {
        const char* pointer;  // what to change in the shipped file
        json value;           // null: remove the key
        std::string error;    // empty: still decodes
    };
    const Case cases[] = {
        {"/linux/ram/warnBelowGB", "12", "linux.ram.warnBelowGB: expected an integer"},
        {"/linux/ram/warnBelowGB", nullptr, ""},  // optional
        {"/linux/disk/marginBytes", -1, "linux.disk.marginBytes: must not be negative"},
        {"/linux/disk/blockModelSet", json::array({"a", 3}),
         "linux.disk.blockModelSet: expected a list of strings"},
        {"/linux/models/warn", nullptr, "linux.models.warn: missing"},
        {"/linux/session", json::array(), "linux.session: expected an object"},
        {"/linux/disk/warnBelowBytes", 18446744073709551615ull,
         "linux.disk.warnBelowBytes: too large"},
        {"/schemaVersion", 1.5, "schemaVersion: expected an integer"},
        {"/linux/futureRule", json::object({{"x", 1}}), ""},  // unknown keys are ignored
    };
    const json shipped = json::parse(readFile(kShippedRules));
    for (const Case& c : cases) {
        json changed = shipped;
        if (c.value.is_null()) {
            const json::json_pointer pointer(c.pointer);
            changed[pointer.parent_pointer()].erase(pointer.back());
        } else {
            changed[json::json_pointer(c.pointer)] = c.value;
        }
        try {
            decodeRequirements(changed.dump());
            EXPECT_EQ(c.error, "") << c.pointer;
        } catch (const RequirementsDecodeError& error) {
            EXPECT_EQ(error.what(), c.error) << c.pointer;
        }
    }
    EXPECT_THROW(decodeRequirements("[1, 2]"), RequirementsDecodeError);
    EXPECT_THROW(decodeRequirements("{\"schemaVersion\": 1"), RequirementsDecodeError);
}

TEST(RequirementsFileTest, LoadingFailsOpenWithOneLogLine) {
    TempDir dir;
    struct Case {
        const char* name;
        std::optional<std::string> contents;  // none: the file is missing
        bool decodes;
        std::string logLine;
    };
    std::string garbage(10 << 20, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    json unknownModel = json::parse(readFile(kShippedRules));
    unknownModel["linux"]["models"]["ok"]["multilingual"] = "no-such-model";
    const Case cases[] = {
        {"missing", std::nullopt, false,
         "requirements.json is missing from " + dir.path().string() +
             "; hardware check fails open"},
        {"garbage", garbage, false,
         "requirements.json did not decode (larger than 1 MiB); hardware check fails open"},
        {"wrong type", R"({"schemaVersion": "1"})", false,
         "requirements.json did not decode (schemaVersion: expected an integer); hardware check "
         "fails open"},
        {"unknown model", unknownModel.dump(), true,
         "requirements.json names the unknown model no-such-model; it is ignored"},
    };
    for (const Case& c : cases) {
        const auto file = dir / "requirements.json";
        std::filesystem::remove(file);
        if (c.contents) {
            writeFile(file, *c.contents);
        }
        auto sink = std::make_shared<CapturingLogSink>();
        ScopedLogSink scoped(sink);
        const auto rules = loadRequirements(file, ModelCatalog::standard());
        EXPECT_EQ(rules.has_value(), c.decodes) << c.name;
        const auto records = sink->records();
        ASSERT_EQ(records.size(), 1u) << c.name;
        EXPECT_EQ(records[0].category, "Requirements");
        EXPECT_EQ(records[0].level, LogLevel::error);
        EXPECT_EQ(records[0].message, c.logLine);
    }
}

TEST(ResourcesFolderTest, InstalledCopyWinsOverTheBuildTree) {
    TempDir prefix;
    const auto executable = prefix / "bin" / "velmarune";
    EXPECT_EQ(findResourcesFolder(executable, "/src/resources"), "/src/resources");
    std::filesystem::create_directories(prefix / "share" / "velmarune");
    EXPECT_EQ(findResourcesFolder(executable, "/src/resources"), prefix / "share" / "velmarune");
}

}  // namespace
}  // namespace velmarune
