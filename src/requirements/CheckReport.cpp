#include "requirements/CheckReport.h"

#include <algorithm>

namespace velmarune {

std::string checkOutcomeRawValue(CheckOutcome outcome) {
    switch (outcome) {
        case CheckOutcome::pass:
            return "pass";
        case CheckOutcome::warn:
            return "warn";
        case CheckOutcome::block:
            break;
    }
    return "block";
}

std::string checkItemRawValue(CheckLine::Item item) {
    switch (item) {
        case CheckLine::Item::processor:
            return "processor";
        case CheckLine::Item::memory:
            return "memory";
        case CheckLine::Item::disk:
            return "disk";
        case CheckLine::Item::session:
            return "session";
        case CheckLine::Item::microphone:
            break;
    }
    return "microphone";
}

std::string checkItemLabel(CheckLine::Item item) {
    switch (item) {
        case CheckLine::Item::processor:
            return "Processor";
        case CheckLine::Item::memory:
            return "Memory";
        case CheckLine::Item::disk:
            return "Disk space";
        case CheckLine::Item::session:
            return "Desktop session";
        case CheckLine::Item::microphone:
            break;
    }
    return "Microphone";
}

std::optional<CheckLine> CheckReport::line(CheckLine::Item item) const {
    auto it = std::find_if(lines.begin(), lines.end(),
                           [item](const CheckLine& l) { return l.item == item; });
    if (it == lines.end()) {
        return std::nullopt;
    }
    return *it;
}

}  // namespace velmarune
