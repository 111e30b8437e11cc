#pragma once

#include <string>

namespace velmarune {

// The input's processing mode. On Linux a noise-suppression filter source
// counts as voice isolation; everything else is standard.
enum class MicMode { standard, voiceIsolation, wideSpectrum, unknown };

// Label in the settings tab ("Standard", "Voice Isolation", "Wide Spectrum", "Unknown").
std::string micModeLabel(MicMode mode);
// Value in the diagnostic log: as the label, but "unknown" in lower case.
std::string micModeLogValue(MicMode mode);
// Raw value ("standard", "voiceIsolation", ...).
std::string micModeRawValue(MicMode mode);

}  // namespace velmarune
