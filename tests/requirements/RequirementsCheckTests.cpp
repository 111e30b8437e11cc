#include <gtest/gtest.h>

#include "requirements/CheckPresentation.h"
#include "requirements/RequirementsCheck.h"

namespace velmarune {
namespace {

using Item = CheckLine::Item;
constexpr uint64_t kGiB = 1073741824;

// The shipped thresholds, with model pairs whose multilingual halves differ so
// that a test can tell which pair was taken.
Requirements rules() {
    Requirements r;
    r.schemaVersion = 1;
    r.session = {{"x11"}, {"xwayland"}, {"wayland", "none"}};
    r.processor = {{"x86-64-v3", "aarch64"}, {"x86-64"}, {"riscv64"}};
    r.ram = {16, 12, 3};
    r.disk = {1'000'000'000,
              0,
              {"ivrit-ai-large-v3-turbo", "whisper-large-v3-turbo-q5"},
              0,
              {"ivrit-ai-large-v3", "whisper-large-v3-turbo-q5"}};
    r.okModels = {"ivrit-ai-large-v3", "ok-multilingual"};
    r.warnModels = {"ivrit-ai-large-v3-turbo", "warn-multilingual"};
    return r;
}

// A machine on which every line passes.
SystemFacts goodMachine() {
    SystemFacts facts;
    facts.processor = {"x86_64", {"avx2", "fma", "f16c", "sse4_2"}, "Test CPU", 8};
    facts.physicalMemoryBytes = 32 * kGiB;
    facts.freeDiskBytes = 100'000'000'000;
    facts.session = {"x11", "GNOME", true, false};
    facts.microphone = {true, 1, "Built-in Audio Analog Stereo"};
    return facts;
}

CheckReport evaluate(const SystemFacts& facts, std::set<std::string> installed = {},
                     std::optional<Requirements> r = rules()) {
    return evaluateRequirements(facts, r, installed, ModelCatalog::standard());
}

struct LineCase {
    const char* name;
    std::function<void(SystemFacts&)> change;
    Item item;
    CheckOutcome outcome;
    std::string value;
    std::string detailStart;  // empty: the detail must be empty
};

class LineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineTest, OutcomeValueAndDetail) {
    const LineCase& c = GetParam();
    SystemFacts facts = goodMachine();
    c.change(facts);
    const CheckLine line = *evaluate(facts).line(c.item);
    EXPECT_EQ(line.outcome, c.outcome);
    EXPECT_EQ(line.value, c.value);
    if (c.detailStart.empty()) {
        EXPECT_EQ(line.detail, "");
    } else {
        EXPECT_EQ(line.detail.substr(0, c.detailStart.size()), c.detailStart) << line.detail;
    }
}

const LineCase kLineCases[] = {
    {"ProcessorWithAvx2", [](SystemFacts&) {}, Item::processor, CheckOutcome::pass,
     "Test CPU, 8 cores", ""},
    {"ProcessorWithoutAvx2",
     [](SystemFacts& f) {
         f.processor.features = {"sse4_2", "avx"};
     },
     Item::processor, CheckOutcome::warn, "Test CPU, 8 cores",
     "Processors without AVX2 and FMA transcribe more slowly, so Velmarune will use the lighter"},
    {"Aarch64WithoutModelName",
     [](SystemFacts& f) {
         f.processor = {"aarch64", {"fp", "asimd"}, "", 1};
     },
     Item::processor, CheckOutcome::pass, "aarch64, 1 core", ""},
    {"BlockedArchitecture",
     [](SystemFacts& f) {
         f.processor = {"riscv64", {}, "", 4};
     },
     Item::processor, CheckOutcome::block, "riscv64, 4 cores",
     "Velmarune's speech models cannot run on this processor (riscv64)."},
    {"ProcessorUnknown", [](SystemFacts& f) { f.processor = {}; }, Item::processor,
     CheckOutcome::pass, "Unknown", ""},

    {"MemoryExactlyAtWarnThreshold", [](SystemFacts& f) { f.physicalMemoryBytes = 12 * kGiB; },
     Item::memory, CheckOutcome::pass, "12 GB", ""},
    {"MemoryOneByteBelowWarnThreshold",
     [](SystemFacts& f) { f.physicalMemoryBytes = 12 * kGiB - 1; }, Item::memory,
     CheckOutcome::warn, "12 GB",
     "Velmarune will use the lighter Hebrew model, ivrit-ai large-v3-turbo, which runs well"},
    {"MemoryBelowBlockThreshold", [](SystemFacts& f) { f.physicalMemoryBytes = 3 * kGiB - 1; },
     Item::memory, CheckOutcome::block, "3 GB", "Velmarune needs at least 3 GB of memory."},
    {"MemoryUnknown", [](SystemFacts& f) { f.physicalMemoryBytes.reset(); }, Item::memory,
     CheckOutcome::pass, "Unknown", "Linux did not report the memory size."},

    // Needs: the light pair 3 198 596 470 bytes, the full pair 4 669 074 678.
    {"DiskOneByteShortOfTheLightPair", [](SystemFacts& f) { f.freeDiskBytes = 3'198'596'469; },
     Item::disk, CheckOutcome::block, "3.2 GB free",
     "Velmarune needs 3.2 GB free for its speech models. Free up some space and check again."},
    {"DiskRoomForTheLightPairOnly", [](SystemFacts& f) { f.freeDiskBytes = 3'198'596'470; },
     Item::disk, CheckOutcome::warn, "3.2 GB free",
     "Not enough room for the full Hebrew model (4.7 GB needed), so Velmarune will use the "
     "lighter one."},
    {"DiskRoomForTheFullPair", [](SystemFacts& f) { f.freeDiskBytes = 4'669'074'678; }, Item::disk,
     CheckOutcome::pass, "4.7 GB free", ""},
    {"DiskUnknown", [](SystemFacts& f) { f.freeDiskBytes.reset(); }, Item::disk, CheckOutcome::pass,
     "Unknown", "The file system did not report its free space."},

    {"X11Session", [](SystemFacts&) {}, Item::session, CheckOutcome::pass, "X11 (GNOME)", ""},
    {"X11WithoutSessionVariables",
     [](SystemFacts& f) {
         f.session = {"", "", true, false};
     },
     Item::session, CheckOutcome::pass, "X11", ""},
    {"WaylandWithXWayland",
     [](SystemFacts& f) {
         f.session = {"wayland", "KDE", true, true};
     },
     Item::session, CheckOutcome::warn, "Wayland (KDE), through XWayland",
     "In a Wayland session Velmarune hears the push-to-talk keys and pastes into every"},
    {"WaylandWithoutXWayland",
     [](SystemFacts& f) {
         f.session = {"wayland", "sway", false, true};
     },
     Item::session, CheckOutcome::block, "Wayland (sway)",
     "Velmarune needs an X11 display, and this Wayland"},
    {"NoDisplayOverSsh",
     [](SystemFacts& f) {
         f.session = {"tty", "", false, false};
     },
     Item::session, CheckOutcome::block, "No display",
     "No X11 or Wayland display could be reached."},

    {"MicrophonePresent", [](SystemFacts&) {}, Item::microphone, CheckOutcome::pass,
     "Built-in Audio Analog Stereo", ""},
    {"NoMicrophone",
     [](SystemFacts& f) {
         f.microphone = {true, 0, ""};
     },
     Item::microphone, CheckOutcome::warn, "No microphone found",
     "Plug in a microphone or headset"},
    {"NoSoundServer", [](SystemFacts& f) { f.microphone = {}; }, Item::microphone,
     CheckOutcome::warn, "No sound server", "Velmarune could not reach the sound server"},
};

INSTANTIATE_TEST_SUITE_P(Requirements, LineTest, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RequirementsCheckTest, InstalledModelsNeedNoSpace) {
    SystemFacts facts = goodMachine();
    facts.freeDiskBytes = 0;
    // The light pair installed: it cannot block however full the disk is (the
    // need is nothing, not the margin); the full pair still lacks its model.
    EXPECT_EQ(evaluate(facts, {"ivrit-ai-large-v3-turbo", "whisper-large-v3-turbo-q5"})
                  .line(Item::disk)
                  ->outcome,
              CheckOutcome::warn);
    EXPECT_EQ(evaluate(facts, {"ivrit-ai-large-v3", "ivrit-ai-large-v3-turbo",
                               "whisper-large-v3-turbo-q5"})
                  .line(Item::disk)
                  ->outcome,
              CheckOutcome::pass);
}

TEST(RequirementsCheckTest, OverallOutcomeAndModelChoice) {
    struct Case {
        const char* name;
        std::function<void(SystemFacts&)> change;
        CheckOutcome outcome;
        bool lighterPair;
    };
    const Case cases[] = {
        {"all pass", [](SystemFacts&) {}, CheckOutcome::pass, false},
        {"disk warn", [](SystemFacts& f) { f.freeDiskBytes = 4'000'000'000; }, CheckOutcome::warn,
         true},
        {"memory warn", [](SystemFacts& f) { f.physicalMemoryBytes = 8 * kGiB; },
         CheckOutcome::warn, true},
        {"processor warn", [](SystemFacts& f) { f.processor.features.clear(); }, CheckOutcome::warn,
         true},
        {"microphone warn only", [](SystemFacts& f) { f.microphone = {}; }, CheckOutcome::warn,
         false},
        {"session warn only", [](SystemFacts& f) { f.session.waylandReachable = true; },
         CheckOutcome::warn, false},
        {"memory block", [](SystemFacts& f) { f.physicalMemoryBytes = 2 * kGiB; },
         CheckOutcome::block, false},
        {"block beats warn",
         [](SystemFacts& f) {
             f.microphone = {};
             f.session = {};
         },
         CheckOutcome::block, false},
    };
    for (const Case& c : cases) {
        SystemFacts facts = goodMachine();
        c.change(facts);
        const CheckReport report = evaluate(facts);
        EXPECT_EQ(report.outcome, c.outcome) << c.name;
        const Requirements::ModelPair expected =
            c.lighterPair ? rules().warnModels : rules().okModels;
        EXPECT_EQ(report.hebrewModelID, expected.hebrew) << c.name;
        EXPECT_EQ(report.multilingualModelID, expected.multilingual) << c.name;
        ASSERT_EQ(report.lines.size(), 5u);
        const Item order[] = {Item::processor, Item::memory, Item::disk, Item::session,
                              Item::microphone};
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(report.lines[i].item, order[i]) << c.name;
        }
    }
}

TEST(RequirementsCheckTest, WithoutRulesEverythingButTheMicrophonePasses) {
    SystemFacts facts = goodMachine();
    facts.processor.features.clear();
    facts.physicalMemoryBytes = 1 * kGiB;
    facts.freeDiskBytes = 1'234'567'890;
    facts.session = {"tty", "", false, false};
    facts.microphone = {};
    const CheckReport report = evaluate(facts, {}, std::nullopt);
    EXPECT_EQ(report.outcome, CheckOutcome::warn);
    EXPECT_EQ(report.hebrewModelID, "ivrit-ai-large-v3");
    EXPECT_EQ(report.multilingualModelID, "whisper-large-v3-turbo-q5");
    for (const CheckLine& line : report.lines) {
        if (line.item != Item::microphone) {
            EXPECT_EQ(line.outcome, CheckOutcome::pass) << checkItemRawValue(line.item);
            EXPECT_EQ(line.detail, "") << checkItemRawValue(line.item);
        }
    }
    EXPECT_EQ(report.line(Item::memory)->value, "1 GB");
    EXPECT_EQ(report.line(Item::disk)->value, "1.2 GB");  // no " free" without rules
    EXPECT_EQ(report.line(Item::microphone)->outcome, CheckOutcome::warn);
}

TEST(CheckPresentationTest, HeadlineAndSubtitleFollowTheOutcome) {
    CheckReport report;
    report.outcome = CheckOutcome::pass;
    EXPECT_EQ(checkHeadline(report.outcome), "This computer is ready for Velmarune");
    EXPECT_EQ(checkSubtitle(report), "Everything Velmarune needs is here.");
    report.outcome = CheckOutcome::block;
    report.lines = {{Item::disk, CheckOutcome::block, "", ""}};
    EXPECT_EQ(checkHeadline(report.outcome), "Velmarune can't start yet");
    EXPECT_EQ(checkSubtitle(report), "One thing needs fixing before Velmarune can start.");
    report.lines.push_back({Item::session, CheckOutcome::block, "", ""});
    EXPECT_EQ(checkSubtitle(report), "2 things need fixing before Velmarune can start.");
}

}  // namespace
}  // namespace velmarune
