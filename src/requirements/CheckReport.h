#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmarune {

// Ordered by severity: the report's outcome is its most severe line.
enum class CheckOutcome { pass, warn, block };

std::string checkOutcomeRawValue(CheckOutcome outcome);

struct CheckLine {
    // The report always lists the five items in this order.
    enum class Item { processor, memory, disk, session, microphone };

    Item item;
    CheckOutcome outcome = CheckOutcome::pass;
    std::string value;   // what was measured
    std::string detail;  // the explanation; empty when there is nothing to say

    bool operator==(const CheckLine&) const = default;
};

// "processor", "memory", "disk", "session", "microphone"
std::string checkItemRawValue(CheckLine::Item item);
// The row label the user reads: "Processor", "Memory", "Disk space", ...
std::string checkItemLabel(CheckLine::Item item);

struct CheckReport {
    std::vector<CheckLine> lines;
    CheckOutcome outcome = CheckOutcome::pass;
    std::string hebrewModelID;
    std::string multilingualModelID;

    bool operator==(const CheckReport&) const = default;

    std::optional<CheckLine> line(CheckLine::Item item) const;
};

}  // namespace velmarune
