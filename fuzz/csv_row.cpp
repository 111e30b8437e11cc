// The diagnostic CSV row: texts from outside (window classes, device names,
// languages, outcomes) with commas, quotes, line breaks and invalid UTF-8
// must still give one line of 68 columns.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/PasteDiagnostics.h"

using namespace velmarune;

namespace {

bool validUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t length = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        uint32_t code = length == 1 ? c : c & (0x7f >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3f);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Fields separated by NUL bytes.
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    size_t next = 0;
    auto take = [&] { return parts[next++ % parts.size()]; };

    PasteDiagnostics::Dependencies deps;
    deps.build = take();
    PasteDiagnostics diagnostics(std::move(deps));
    Press press;
    press.frontAtKeyDown = take();
    press.frontAtTranscribed = take();
    press.frontAtCmdV = take();
    press.flagsCombined = take();
    press.restoreResult = take();
    press.outcome = take();
    press.cancelReason = take();
    press.lastSparkle = take();
    press.language = take();
    press.route = take();
    press.snapshotSkipped = take();
    press.frontAtRelease = take();
    PressAudio audio;
    audio.device = take();
    audio.sourceType = take();
    audio.gate = take();
    audio.micMode = take();
    press.audio = audio;
    DecodeFigures decode;
    decode.loop = take();
    decode.lastSegment = take();
    press.decode = decode;

    const std::string row = diagnostics.formatRow(press);
    size_t commas = 0;
    for (char c : row) {
        if (c == '\n' || c == '\r' || c == '"') {
            std::abort();
        }
        commas += c == ',';
    }
    if (commas != 67 || !validUtf8(row)) {
        std::abort();
    }
    return 0;
}
