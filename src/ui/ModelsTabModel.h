#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "models/ModelEntry.h"
#include "models/ModelSlot.h"
#include "recognition/WhisperStatus.h"

namespace velmarune {

struct AppState;
class Executor;
class MainQueue;
class ModelDownloadManager;
class ModelLocator;

// The Models tab's rules: the banner, the engine line, each slot's line and
// model rows, the actions behind the rows, and the test transcription of the
// bundled sample. Main thread only; the test transcription decodes on the
// worker it is given.
class ModelsTabModel {
  public:
    struct Dependencies {
        AppState& state;
        ModelLocator& locator;
        ModelDownloadManager& downloads;
        MainQueue& mainQueue;
        Executor& worker;                  // where the test transcription runs
        std::filesystem::path sampleFile;  // the bundled English sample
    };

    struct Banner {
        std::string headline;  // "Download a Hebrew model … to start dictating."
        std::string detail;    // "About 2.2 GB, downloaded once. Then choose Set as …"
    };
    enum class Tone { secondary, busy, success, warning, error };
    struct StatusLine {
        Tone tone = Tone::secondary;
        std::string text;
        bool operator==(const StatusLine&) const = default;
    };
    struct SlotLine {
        std::string label;     // "Hebrew:"
        std::string fileName;  // "Not chosen" when the slot has no file
        std::string size;      // "(574 MB)", empty when not chosen
        bool chosen = false;
    };
    // What a row shows on its right.
    enum class RowAction { verifying, downloading, active, setAs, download };
    struct Row {
        ModelEntry entry;
        bool active = false;               // the slot's model: drawn in bold
        std::optional<std::string> error;  // the last download's failure
        RowAction action = RowAction::download;
        double fraction = 0;     // downloading only
        std::string actionText;  // "Verifying…", "42%", "Set as Hebrew", "Download 574 MB"
    };

    enum class TestLanguage { english, hebrew };
    struct TestResult {
        bool running = false;
        std::string text;  // empty before the first run
        std::optional<double> elapsedSeconds;
    };

    static constexpr const char* kMultilingualNote =
        "The Multilingual model also runs language detection at the start of each Auto-mode "
        "dictation.";
    static constexpr const char* kTestCaption =
        "Hebrew uses the Hebrew slot, English uses the Multilingual slot. Sample: zib_en.wav "
        "(bundled).";

    explicit ModelsTabModel(Dependencies deps);
    ~ModelsTabModel();
    ModelsTabModel(const ModelsTabModel&) = delete;
    ModelsTabModel& operator=(const ModelsTabModel&) = delete;

    // Nothing when every slot has its file.
    std::optional<Banner> banner() const;
    static StatusLine engineLine(const WhisperStatus& status);
    SlotLine slotLine(ModelSlot slot) const;
    // Reads the download states and the models folder as they are now.
    std::vector<Row> rows(ModelSlot slot) const;

    void download(const ModelEntry& entry);
    void cancel(const ModelEntry& entry);
    // Makes the entry the slot's model and reloads the engines with it. The
    // error's text when the choice could not be saved.
    std::optional<std::string> setActive(const ModelEntry& entry, ModelSlot slot);

    // Transcribes the bundled sample with the language's engine, off the
    // main thread; `changed` runs on the main thread when the result is in
    // (at once for the two errors found before anything starts).
    void transcribeSample(TestLanguage language, std::function<void()> changed);
    const TestResult& testResult() const { return m_test; }

  private:
    Dependencies m_deps;
    TestResult m_test;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

}  // namespace velmarune
