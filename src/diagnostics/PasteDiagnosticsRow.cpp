// The CSV side of the recorder: the header and one row per ended record.

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cmath>
#include <ctime>
#include <string_view>

#include "diagnostics/PasteDiagnostics.h"

namespace velmarune {

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0.
size_t utf8Length(std::string_view s) {
    const auto c = static_cast<unsigned char>(s[0]);
    const size_t length = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || length > s.size()) {
        return 0;
    }
    uint32_t code = length == 1 ? c : c & (0x7fU >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(s[i]);
        if ((next & 0xc0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3fU);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        return 0;
    }
    return length;
}

// Fields are never quoted, so a comma inside a text would shift every later
// column, a line break would split the row, and a quote would make a CSV
// reader take the rest of the file as one field: all three are replaced.
// The file is UTF-8, so bytes that are not (a window class in Latin-1)
// become U+FFFD.
std::string text(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    std::string_view rest = value;
    while (!rest.empty()) {
        const size_t length = utf8Length(rest);
        if (length == 0) {
            out += "\xef\xbf\xbd";
            rest.remove_prefix(1);
            continue;
        }
        const char c = rest[0];
        if (c == ',') {
            out += ';';
        } else if (c == '\n' || c == '\r') {
            out += ' ';
        } else if (c == '"') {
            out += '\'';
        } else {
            out.append(rest.substr(0, length));
        }
        rest.remove_prefix(length);
    }
    return out;
}

std::string text(const std::optional<std::string>& value) {
    return value ? text(*value) : "";
}

std::string integer(int64_t value) {
    return fmt::format("{}", value);
}

std::string integer(const std::optional<int64_t>& value) {
    return value ? integer(*value) : "";
}

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

std::string fixed(double value, int decimals) {
    return fmt::format("{:.{}f}", value, decimals);
}

std::string fixed(const std::optional<double>& value, int decimals) {
    return value ? fixed(*value, decimals) : "";
}

std::string fixed(const std::optional<float>& value, int decimals) {
    return value ? fixed(static_cast<double>(*value), decimals) : "";
}

// Milliseconds from key-down, rounded to the nearest (halves away from zero).
std::string msFrom(TimePoint keyDown, const std::optional<TimePoint>& at) {
    if (!at) {
        return "";
    }
    const double ms = std::chrono::duration<double, std::milli>(*at - keyDown).count();
    return integer(static_cast<int64_t>(std::llround(ms)));
}

// "2026-01-01 09:30:05 +0000": the date in UTC, whole seconds.
std::string utcDate(WallTime at) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(at);
    const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
    return fmt::format("{:%Y-%m-%d %H:%M:%S} +0000", fmt::gmtime(t));
}

}  // namespace
std::string PasteDiagnostics::flagNames(uint64_t flags) {
    static const std::pair<uint64_t, const char*> kNames[] = {
        {0x40000, "ctrl"}, {0x20000, "shift"}, {0x80000, "opt"},
        {0x100000, "cmd"}, {0x800000, "fn"},
    };
    std::string names;
    for (const auto& [mask, name] : kNames) {
        if (flags & mask) {
            if (!names.empty()) {
                names += '+';
            }
            names += name;
        }
    }
    return names.empty() ? "none" : names;
}

const std::string& PasteDiagnostics::csvHeader() {
    static const std::string kHeader =
        "build,press,key_down,key_up_ms,transcribed_ms,pb_write_ms,cmdv_ms,clear_ms,restore_ms,"
        "hud_ms,front_down,front_done,front_cmdv,since_activation_s,since_wake_s,paste_attempted,"
        "flags_combined,flags_hid,cc_before,cc_after_write,cc_at_clear,ours_at_clear,restore,"
        "outcome,cancel_reason,last_sparkle,length,device,src_rate,src_channels,src_type,buffers,"
        "dropped,format_changes,capture_restarted,new_audio_ms,rms,peak,gate,language,confidence,"
        "route,decode_ms,segments,compression_ratio,loop,collapsed_words,first_read_ms,reads,"
        "snapshot,snapshot_skipped,since_unlock_s,since_screen_wake_s,noise_floor,speech_threshold,"
        "trimmed_ms,front_release,queued_ahead,queue_wait_ms,paste_wait_ms,keys_held_ms,trim_ms,"
        "detect_ms,encode_ms,quiet_tail_ms,mic_mode,zero_ms,last_segment";
    return kHeader;
}

std::string PasteDiagnostics::formatRow(const Press& p) const {
    const TimePoint down = p.keyDown;
    const PressAudio* audio = p.audio ? &*p.audio : nullptr;
    const DecodeFigures* decode = p.decode ? &*p.decode : nullptr;
    const TrimFigures* trim = p.trim ? &*p.trim : nullptr;
    std::optional<std::string> snapshot;
    if (p.snapshotComplete) {
        snapshot = *p.snapshotComplete ? "complete" : "partial";
    }

    // No operation fills cleared, changeCountAtClear or oursAtClear: their
    // columns stay in the header and are always written empty.
    const std::string fields[] = {
        text(m_deps.build),
        integer(p.id),
        utcDate(p.keyDownDate),
        msFrom(down, p.keyUp),
        msFrom(down, p.transcribed),
        msFrom(down, p.pasteboardWrite),
        msFrom(down, p.cmdV),
        "",  // clear_ms
        msFrom(down, p.restored),
        msFrom(down, p.hudShown),
        text(p.frontAtKeyDown),
        text(p.frontAtTranscribed),
        text(p.frontAtCmdV),
        fixed(p.secondsSinceActivation, 1),
        fixed(p.secondsSinceWake, 1),
        yesNo(p.pasteAttempted),
        text(p.flagsCombined),
        text(p.flagsHID),
        integer(p.changeCountBefore),
        integer(p.changeCountAfterWrite),
        "",  // cc_at_clear
        "",  // ours_at_clear
        text(p.restoreResult),
        text(p.outcome),
        text(p.cancelReason),
        text(p.lastSparkle),
        integer(p.length),
        audio ? text(audio->device) : "",
        audio ? fixed(audio->sourceRate, 0) : "",
        audio ? integer(audio->sourceChannels) : "",
        audio ? text(audio->sourceType) : "",
        audio ? integer(audio->buffers) : "",
        audio ? integer(audio->dropped) : "",
        audio ? integer(audio->formatChanges) : "",
        audio ? yesNo(audio->captureRestarted) : "",
        audio ? integer(audio->newAudioMs) : "",
        audio ? fixed(static_cast<double>(audio->rms), 4) : "",
        audio ? fixed(static_cast<double>(audio->peak), 4) : "",
        audio ? text(audio->gate) : "",
        text(p.language),
        fixed(p.confidence, 2),
        text(p.route),
        decode ? integer(decode->latencyMs) : "",
        decode ? integer(decode->segments) : "",
        decode ? fixed(decode->compressionRatio, 2) : "",
        decode ? text(decode->loop) : "",
        decode ? integer(decode->collapsedWords) : "",
        msFrom(down, p.firstRead),
        integer(p.reads),
        text(snapshot),
        text(p.snapshotSkipped),
        fixed(p.secondsSinceUnlock, 1),
        fixed(p.secondsSinceScreenWake, 1),
        trim ? fixed(static_cast<double>(trim->floor), 5) : "",
        trim ? fixed(static_cast<double>(trim->threshold), 5) : "",
        trim ? integer(trim->trimmedMs) : "",
        text(p.frontAtRelease),
        integer(p.queuedAhead),
        integer(p.queueWaitMs),
        integer(p.pasteWaitMs),
        integer(p.keysHeldMs),
        integer(p.trimMs),
        integer(p.detectMs),
        integer(p.encodeMs),
        trim ? integer(trim->quietTailMs) : "",
        audio ? text(audio->micMode) : "",
        trim ? integer(trim->zeroMs) : "",
        decode ? text(decode->lastSegment) : "",
    };
    static_assert(std::size(fields) == 68, "one field per header column");
    return fmt::format("{}", fmt::join(fields, ","));
}

}  // namespace velmarune
