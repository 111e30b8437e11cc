#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "diagnostics/PasteDiagnostics.h"
#include "foundation/Paths.h"
#include "support/CapturingLogSink.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace velmarune {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string& header() {
    return PasteDiagnostics::csvHeader();
}

TEST(DiagnosticCsvFile, StartsANewFileInMissingFoldersKeepsACurrentOneAndFillsAnEmptyOne) {
    TempDir temp;
    const fs::path file = Paths::underRoot(temp.path()).logsFolder() / "press-diag.csv";
    DiagnosticCsvFile(file.string()).append("a,1");
    DiagnosticCsvFile(file.string()).append("b,2");
    EXPECT_EQ(readFile(file), header() + "\na,1\nb,2\n");

    writeFile(file, "");
    DiagnosticCsvFile(file.string()).append("only");
    EXPECT_EQ(readFile(file), header() + "\nonly\n");
    EXPECT_EQ(filesIn(file.parent_path()).size(), 1u);
}

TEST(DiagnosticCsvFile, MovesAFileWithAnotherHeaderAside) {
    // Local time = UTC, so moved-aside names are predictable.
    testing::ScopedEnv utc("TZ", "UTC");
    tzset();
    TempDir temp;
    const fs::path file = temp / "press-diag.csv";
    const std::string old = "build,press,key_down\n0.0.9(1),1,2025-12-31 23:59:59 +0000\n";
    writeFile(file, old);

    // 2026-03-04 05:06:07 UTC.
    DiagnosticCsvFile csv(file.string(), [] { return WallTime(std::chrono::seconds{1772600767}); });
    csv.append("x");
    EXPECT_EQ(filesIn(temp.path()),
              (std::vector<std::string>{"press-diag-2026-03-04-050607.csv", "press-diag.csv"}));
    EXPECT_EQ(readFile(temp / "press-diag-2026-03-04-050607.csv"), old);
    EXPECT_EQ(readFile(file), header() + "\nx\n");

    // A second old file within the same second keeps the first one kept.
    writeFile(file, "older\n");
    csv.append("y");
    EXPECT_EQ(readFile(temp / "press-diag-2026-03-04-050607.csv"), old);
    EXPECT_EQ(readFile(temp / "press-diag-2026-03-04-050607-2.csv"), "older\n");
    EXPECT_EQ(readFile(file), header() + "\ny\n");
}

TEST(DiagnosticCsvFile, FailuresLoseTheRowAndAreLoggedOncePerRun) {
    auto sink = std::make_shared<CapturingLogSink>();
    ScopedLogSink scoped(sink);
    TempDir temp;
    writeFile(temp / "blocker", "not a folder");
    const auto path = (temp / "blocker" / "press-diag.csv").string();
    DiagnosticCsvFile csv(path);
    EXPECT_NO_THROW(csv.append("lost"));
    csv.append("lost too");
    EXPECT_EQ(readFile(temp / "blocker"), "not a folder");
    EXPECT_EQ(sink->messages("PasteDiagnostics"),
              std::vector<std::string>{"diagnostic log " + path +
                                       " not written: Not a directory; rows are dropped until it "
                                       "can be written again"});
}

}  // namespace
}  // namespace velmarune
