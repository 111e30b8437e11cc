#include "requirements/CheckPresentation.h"

#include <algorithm>

namespace velmarune {

std::string checkHeadline(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::pass:
            return "This computer is ready for Velmarune";
        case CheckOutcome::warn:
            return "Velmarune will run on this computer";
        case CheckOutcome::block:
            break;
    }
    return "Velmarune can't start yet";
}

std::string checkSubtitle(const CheckReport& report) {
    switch (report.outcome) {
        case CheckOutcome::pass:
            return "Everything Velmarune needs is here.";
        case CheckOutcome::warn:
            return "Some things will be slower or need your attention. Velmarune has adjusted "
                   "where it can.";
        case CheckOutcome::block:
            break;
    }
    const auto blocked = std::count_if(report.lines.begin(), report.lines.end(), [](const auto& l) {
        return l.outcome == CheckOutcome::block;
    });
    // Two blocked lines must not read as "one thing".
    return blocked > 1 ? std::to_string(blocked) + " things need fixing before Velmarune can start."
                       : "One thing needs fixing before Velmarune can start.";
}

}  // namespace velmarune
