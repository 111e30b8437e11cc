#include "foundation/RelativeTime.h"

#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

namespace velmarune {

std::string relativeTimeAgo(double secondsAgo) {
    struct Unit {
        double seconds;
        URelativeDateTimeUnit unit;
    };
    // Months and years as calendar averages: the text is approximate anyway.
    static constexpr Unit units[] = {{365.2425 * 86400, UDAT_REL_UNIT_YEAR},
                                     {30.436875 * 86400, UDAT_REL_UNIT_MONTH},
                                     {7 * 86400, UDAT_REL_UNIT_WEEK},
                                     {86400, UDAT_REL_UNIT_DAY},
                                     {3600, UDAT_REL_UNIT_HOUR},
                                     {60, UDAT_REL_UNIT_MINUTE},
                                     {1, UDAT_REL_UNIT_SECOND}};
    const double ago = std::isfinite(secondsAgo) ? std::max(0.0, secondsAgo) : 0.0;
    double amount = 0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    for (const Unit& candidate : units) {
        if (ago >= candidate.seconds) {
            amount = std::floor(ago / candidate.seconds);
            unit = candidate.unit;
            break;
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    // Built once: loading the locale data is the expensive part.
    thread_local std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
    if (!formatter) {
        formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
            icu::Locale("en_US"), nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
        if (U_FAILURE(status)) {
            formatter.reset();
        }
    }
    if (formatter) {
        icu::UnicodeString text;
        formatter->format(-amount, unit, text, status);
        if (U_SUCCESS(status)) {
            std::string out;
            return text.toUTF8String(out);
        }
    }
    // Without the locale data: the numeric form alone, in seconds (`amount`
    // counts `unit`s).
    return std::to_string(static_cast<int64_t>(ago)) + " seconds ago";
}

}  // namespace velmarune
