#include "audio/MicMode.h"

namespace velmarune {

std::string micModeLabel(MicMode mode) {
    switch (mode) {
        case MicMode::standard:
            return "Standard";
        case MicMode::voiceIsolation:
            return "Voice Isolation";
        case MicMode::wideSpectrum:
            return "Wide Spectrum";
        case MicMode::unknown:
            break;
    }
    return "Unknown";
}

std::string micModeLogValue(MicMode mode) {
    return mode == MicMode::unknown ? "unknown" : micModeLabel(mode);
}

std::string micModeRawValue(MicMode mode) {
    switch (mode) {
        case MicMode::standard:
            return "standard";
        case MicMode::voiceIsolation:
            return "voiceIsolation";
        case MicMode::wideSpectrum:
            return "wideSpectrum";
        case MicMode::unknown:
            break;
    }
    return "unknown";
}

}  // namespace velmarune
