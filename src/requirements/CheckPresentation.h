#pragma once

#include <string>

#include "requirements/CheckReport.h"

namespace velmarune {

// The words the window and the terminal show for a report.
std::string checkHeadline(CheckOutcome outcome);
std::string checkSubtitle(const CheckReport& report);

inline constexpr const char* kCheckFootnote =
    "This check runs on this computer. Nothing is sent anywhere.";
inline constexpr const char* kMicrophoneNote =
    "While Velmarune runs, the microphone stays open so that each dictation includes the half "
    "second before the keys went down. That audio is kept only in memory; your desktop may show "
    "that the microphone is in use.";
inline constexpr const char* kSupportAddress = "support@velmarune.org";
inline constexpr const char* kSupportSubject = "Velmarune requirements";

}  // namespace velmarune
