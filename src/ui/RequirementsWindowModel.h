#pragma once

#include <optional>
#include <string>
#include <vector>

#include "models/DownloadState.h"
#include "models/ModelEntry.h"
#include "requirements/CheckReport.h"

namespace velmarune {

// What the requirements window shows for a report, and which buttons it
// offers. The widget only draws this.
struct RequirementsWindowContent {
    struct Row {
        CheckOutcome outcome;
        std::string label;
        std::string value;
        std::string detail;  // empty: no detail line
        bool operator==(const Row&) const = default;
    };

    std::string headline;
    std::string subtitle;
    std::vector<Row> rows;
    std::string footnote;
    std::string microphoneNote;
    // pass and warn: Quit and Continue (the default). block: Questions?, Quit
    // and Check Again (the default), never Continue.
    bool offersContinue = false;
    bool offersCheckAgain = false;
    std::string questionsLink;  // a mailto: address; empty unless blocked

    static RequirementsWindowContent from(const CheckReport& report);
};

// The icon-theme name of an outcome; the widget draws a coloured fallback
// when the theme lacks it.
std::string outcomeIconName(CheckOutcome outcome);

// One line of the first downloads' progress.
struct ModelDownloadRow {
    std::string title;  // the model's display name and size
    double fraction = 0.0;
    std::string status;  // "42 %", "Verifying…", "Installed", "Failed: …"
    bool failed = false;
    bool done = false;
    bool operator==(const ModelDownloadRow&) const = default;

    // `state` absent: idle, which after a start means installed or cancelled.
    static ModelDownloadRow from(const ModelEntry& entry, const std::optional<DownloadState>& state,
                                 bool installed);
};

}  // namespace velmarune
