#include "ui/ModelsTabModel.h"

#include <cstdio>
#include <system_error>

#include "app/AppState.h"
#include "audio/WAVDecoder.h"
#include "foundation/ByteCount.h"
#include "foundation/MainQueue.h"
#include "foundation/Task.h"
#include "models/ModelDownloadManager.h"
#include "models/ModelLocator.h"
#include "recognition/SpeechRecognizer.h"

namespace velmarune {

namespace {

std::string percentText(double fraction) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", fraction * 100.0);
    return text;
}

std::optional<int64_t> fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? std::nullopt : std::optional<int64_t>(static_cast<int64_t>(size));
}

}  // namespace

ModelsTabModel::ModelsTabModel(Dependencies deps) : m_deps(std::move(deps)) {}

ModelsTabModel::~ModelsTabModel() = default;

std::optional<ModelsTabModel::Banner> ModelsTabModel::banner() const {
    const std::vector<ModelSlot> needed = m_deps.locator.slotsNeedingModels();
    if (needed.empty()) {
        return std::nullopt;
    }
    std::string models, choices;
    int64_t bytes = 0;
    for (ModelSlot slot : needed) {
        models +=
            (models.empty() ? "" : " and ") +
            std::string(slot == ModelSlot::hebrew ? "a Hebrew model" : "the Multilingual model");
        choices += (choices.empty() ? "" : " or Set as ") + modelSlotDisplayWord(slot);
        const auto entries = m_deps.locator.entries(slot);
        if (!entries.empty()) {
            bytes += entries.front().fileSizeBytes;
        }
    }
    return Banner{"Download " + models + " to start dictating.",
                  "About " + formatByteCount(bytes) + ", downloaded once. Then choose Set as " +
                      choices + "."};
}

ModelsTabModel::StatusLine ModelsTabModel::engineLine(const WhisperStatus& status) {
    switch (status.kind) {
        case WhisperStatus::Kind::needsModels:
            return {Tone::warning, "Needs models"};
        case WhisperStatus::Kind::failed:
            return {Tone::error, status.message};
        case WhisperStatus::Kind::notLoaded:
            return {Tone::secondary, "Not loaded"};
        case WhisperStatus::Kind::loading:
            return {Tone::busy, "Loading…"};
        case WhisperStatus::Kind::ready:
            return {Tone::success, "Both ready"};
    }
    return {};
}

ModelsTabModel::SlotLine ModelsTabModel::slotLine(ModelSlot slot) const {
    SlotLine line{modelSlotDisplayWord(slot) + ":", "Not chosen", "", false};
    // A file chosen by hand (not one of the catalogue's) is named too: the
    // engine uses it as it would a downloaded one.
    const auto stored = m_deps.locator.assignedPath(slot);
    if (!stored) {
        return line;
    }
    const auto size = fileSize(*stored);
    if (!size) {
        return line;
    }
    const auto entry = m_deps.locator.activeEntry(slot);
    line.fileName = entry ? entry->fileName : std::filesystem::path(*stored).filename().string();
    line.size = "(" + formatByteCount(*size) + ")";
    line.chosen = true;
    return line;
}

std::vector<ModelsTabModel::Row> ModelsTabModel::rows(ModelSlot slot) const {
    const auto& states = m_deps.downloads.states().get();
    std::vector<Row> rows;
    for (const ModelEntry& entry : m_deps.locator.entries(slot)) {
        Row row;
        row.entry = entry;
        const bool installed = m_deps.locator.isInstalled(entry);
        row.active = installed && m_deps.locator.isActive(entry, slot);
        const auto it = states.find(entry.id);
        const DownloadState* state = it == states.end() ? nullptr : &it->second;
        if (state) {
            row.error = state->error;
        }
        if (state && state->isVerifying) {
            row.action = RowAction::verifying;
            row.actionText = "Verifying…";
        } else if (state && state->isActive) {
            row.action = RowAction::downloading;
            row.fraction = state->fractionCompleted;
            row.actionText = percentText(state->fractionCompleted);
        } else if (row.active) {
            row.action = RowAction::active;
        } else if (installed) {
            row.action = RowAction::setAs;
            row.actionText = "Set as " + modelSlotDisplayWord(slot);
        } else {
            row.action = RowAction::download;
            row.actionText = "Download " + formatByteCount(entry.fileSizeBytes);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void ModelsTabModel::download(const ModelEntry& entry) {
    m_deps.downloads.start(entry);
}

void ModelsTabModel::cancel(const ModelEntry& entry) {
    m_deps.downloads.cancel(entry);
}

std::optional<std::string> ModelsTabModel::setActive(const ModelEntry& entry, ModelSlot slot) {
    if (!m_deps.locator.assign(entry, slot)) {
        return "The choice could not be saved in the settings file.";
    }
    if (m_deps.state.reloadEngine) {
        m_deps.state.reloadEngine();
    }
    return std::nullopt;
}

void ModelsTabModel::transcribeSample(TestLanguage language, std::function<void()> changed) {
    if (m_test.running) {
        return;
    }
    const bool english = language == TestLanguage::english;
    std::shared_ptr<SpeechRecognizer> engine =
        english ? m_deps.state.multilingualEngine : m_deps.state.hebrewEngine;
    m_test.elapsedSeconds.reset();
    if (!engine) {
        m_test.text =
            std::string("Error: ") + (english ? "English" : "Hebrew") + " engine not loaded.";
        changed();
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(m_deps.sampleFile, ec)) {
        m_test.text = "Error: bundled zib_en.wav not found in app resources.";
        changed();
        return;
    }
    m_test.running = true;
    m_test.text.clear();
    const TimePoint started = m_deps.mainQueue.now();
    std::weak_ptr<int> alive = m_alive;
    MainQueue& mainQueue = m_deps.mainQueue;
    m_deps.worker.execute([this, alive, engine, started, changed, &mainQueue,
                           file = m_deps.sampleFile, code = std::string(english ? "en" : "he")] {
        std::string text;
        try {
            const std::vector<float> samples = WAVDecoder::decode(file);
            text = engine->transcribe(samples, code, code == "en", 0.0F, 0.0F, CancellationToken())
                       .text;
            if (text.empty()) {
                text = "(empty result)";
            }
        } catch (const std::exception& error) {
            text = std::string("Error: ") + error.what();
        }
        mainQueue.post([this, alive, text, started, changed] {
            if (alive.expired()) {
                return;
            }
            m_test.running = false;
            m_test.text = text;
            m_test.elapsedSeconds = secondsBetween(started, m_deps.mainQueue.now());
            changed();
        });
    });
}

}  // namespace velmarune
