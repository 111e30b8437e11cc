#include "ui/RequirementsWindowModel.h"

#include <cmath>

#include "foundation/ByteCount.h"
#include "requirements/CheckPresentation.h"

namespace velmarune {

namespace {

// Enough of RFC 3986 for a subject line: everything but unreserved characters.
std::string percentEncoded(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace

RequirementsWindowContent RequirementsWindowContent::from(const CheckReport& report) {
    RequirementsWindowContent content;
    content.headline = checkHeadline(report.outcome);
    content.subtitle = checkSubtitle(report);
    for (const CheckLine& line : report.lines) {
        content.rows.push_back({line.outcome, checkItemLabel(line.item), line.value, line.detail});
    }
    content.footnote = kCheckFootnote;
    content.microphoneNote = kMicrophoneNote;
    const bool blocked = report.outcome == CheckOutcome::block;
    content.offersContinue = !blocked;
    content.offersCheckAgain = blocked;
    if (blocked) {
        content.questionsLink = std::string("mailto:") + kSupportAddress +
                                "?subject=" + percentEncoded(kSupportSubject);
    }
    return content;
}

std::string outcomeIconName(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::pass:
            return "emblem-ok";
        case CheckOutcome::warn:
            return "dialog-warning";
        case CheckOutcome::block:
            break;
    }
    return "dialog-error";
}

ModelDownloadRow ModelDownloadRow::from(const ModelEntry& entry,
                                        const std::optional<DownloadState>& state, bool installed) {
    ModelDownloadRow row;
    row.title = entry.displayName + " (" + formatByteCount(entry.fileSizeBytes) + ")";
    if (state && state->error) {
        row.failed = true;
        row.status = "Failed: " + *state->error;
    } else if (state && state->isVerifying) {
        row.fraction = 1.0;
        row.status = "Verifying…";
    } else if (state && state->isActive) {
        row.fraction = state->fractionCompleted;
        row.status =
            std::to_string(static_cast<int>(std::floor(state->fractionCompleted * 100))) + " %";
    } else if (installed) {
        row.fraction = 1.0;
        row.done = true;
        row.status = "Installed";
    } else {
        row.status = "Waiting";
    }
    return row;
}

}  // namespace velmarune
