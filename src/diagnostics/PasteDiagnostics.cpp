#include "diagnostics/PasteDiagnostics.h"

#include <fmt/format.h>

#include "foundation/Log.h"

namespace velmarune {

namespace {

const Logger kLog{"PasteDiag"};

// Records kept open at most; a press that never ends is written as
// "abandoned" once this many newer ones are open.
constexpr size_t kMaxOpen = 8;

}  // namespace

PasteDiagnostics::PasteDiagnostics(Dependencies deps) : m_deps(std::move(deps)) {}

bool PasteDiagnostics::enabledLocked() const {
    return m_deps.isEnabled && m_deps.isEnabled();
}

TimePoint PasteDiagnostics::nowLocked() const {
    return m_deps.now ? m_deps.now() : MonotonicClock::now();
}

std::optional<std::string> PasteDiagnostics::frontmostLocked() const {
    return m_deps.frontmost ? m_deps.frontmost() : std::nullopt;
}

Press* PasteDiagnostics::openRecord(std::optional<int64_t> id) {
    if (!id || !enabledLocked()) {
        return nullptr;
    }
    auto found = m_open.find(*id);
    return found == m_open.end() ? nullptr : &found->second;
}

std::optional<int64_t> PasteDiagnostics::pasteTarget() const {
    return m_pastingID ? m_pastingID : m_latestID;
}

Press PasteDiagnostics::newPressLocked(TimePoint now) {
    Press press;
    press.keyDown = now;
    press.keyDownDate = m_deps.wallNow ? m_deps.wallNow() : std::chrono::system_clock::now();
    press.frontAtKeyDown = frontmostLocked();
    auto since = [&](const std::optional<TimePoint>& at) -> std::optional<double> {
        if (!at) {
            return std::nullopt;
        }
        return secondsBetween(*at, now);
    };
    press.secondsSinceActivation = since(m_lastActivation);
    press.secondsSinceWake = since(m_lastWake);
    press.secondsSinceUnlock = since(m_lastUnlock);
    press.secondsSinceScreenWake = since(m_lastScreenWake);
    if (m_lastSparkle) {
        const auto seconds = static_cast<int64_t>(secondsBetween(m_lastSparkle->second, now));
        press.lastSparkle = fmt::format("{} {}s ago", m_lastSparkle->first, seconds);
    }
    press.reads = 0;
    press.pasteAttempted = false;
    return press;
}

void PasteDiagnostics::writeLocked(const Press& press) {
    const std::string row = formatRow(press);
    kLog.info("PasteDiag %{public}s", row);
    if (!m_deps.sink) {
        return;
    }
    try {
        m_deps.sink(row);
    } catch (...) {
        // A row that cannot be written is lost; the log line above still has it.
    }
}

void PasteDiagnostics::endLocked(int64_t id, const std::string& outcome) {
    auto found = m_open.find(id);
    if (found == m_open.end()) {
        return;
    }
    Press press = std::move(found->second);
    m_open.erase(found);
    if (m_pastingID == id) {
        m_pastingID.reset();
    }
    press.outcome = outcome;
    writeLocked(press);
}

std::optional<int64_t> PasteDiagnostics::begin() {
    std::lock_guard lock(m_mutex);
    if (!enabledLocked()) {
        return std::nullopt;
    }
    while (m_open.size() >= kMaxOpen) {
        endLocked(m_open.begin()->first, "abandoned");
    }
    const int64_t id = m_nextID++;
    Press press = newPressLocked(nowLocked());
    press.id = id;
    m_open.emplace(id, std::move(press));
    m_latestID = id;
    return id;
}

void PasteDiagnostics::markKeyUp(std::optional<int64_t> id,
                                 std::optional<std::string> frontAtRelease) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->keyUp = nowLocked();
        press->frontAtRelease = std::move(frontAtRelease);
    }
}

void PasteDiagnostics::setAudio(std::optional<int64_t> id, const PressAudio& audio) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->audio = audio;
    }
}

void PasteDiagnostics::setQueuedAhead(std::optional<int64_t> id, int64_t ahead) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->queuedAhead = ahead;
    }
}

void PasteDiagnostics::setQueueWaitMs(std::optional<int64_t> id, int64_t ms) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->queueWaitMs = ms;
    }
}

void PasteDiagnostics::setLength(std::optional<int64_t> id, int64_t length) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->length = length;
    }
}

void PasteDiagnostics::markTranscribed(std::optional<int64_t> id) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->transcribed = nowLocked();
        press->frontAtTranscribed = frontmostLocked();
    }
}

void PasteDiagnostics::setRecognition(
    std::optional<int64_t> id, std::optional<std::string> language, std::optional<float> confidence,
    std::optional<std::string> route, const DecodeFigures& decode, std::optional<TrimFigures> trim,
    std::optional<int64_t> trimMs, std::optional<int64_t> detectMs,
    std::optional<int64_t> encodeMs) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->language = std::move(language);
        press->confidence = confidence;
        press->route = std::move(route);
        press->decode = decode;
        press->trim = trim;
        press->trimMs = trimMs;
        press->detectMs = detectMs;
        press->encodeMs = encodeMs;
    }
}

void PasteDiagnostics::setPasteWait(std::optional<int64_t> id, int64_t pasteWaitMs,
                                    int64_t keysHeldMs) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->pasteWaitMs = pasteWaitMs;
        press->keysHeldMs = keysHeldMs;
    }
}

void PasteDiagnostics::setPasting(std::optional<int64_t> id) {
    std::lock_guard lock(m_mutex);
    if (enabledLocked()) {
        m_pastingID = id;
    }
}

bool PasteDiagnostics::isEnabled() const {
    std::lock_guard lock(m_mutex);
    return enabledLocked();
}

std::optional<int64_t> PasteDiagnostics::currentPressID() const {
    std::lock_guard lock(m_mutex);
    return enabledLocked() ? pasteTarget() : std::nullopt;
}

void PasteDiagnostics::recordPasteboardWrite(std::optional<int64_t> id, int64_t changeCountBefore,
                                             int64_t changeCountAfterWrite) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->pasteboardWrite = nowLocked();
        press->changeCountBefore = changeCountBefore;
        press->changeCountAfterWrite = changeCountAfterWrite;
    }
}

void PasteDiagnostics::recordSnapshot(std::optional<int64_t> id, bool complete,
                                      const std::string& skipped) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->snapshotComplete = complete;
        press->snapshotSkipped = skipped;
    }
}

void PasteDiagnostics::recordKeystroke(std::optional<int64_t> id, uint64_t flagsCombined,
                                       uint64_t flagsHID, std::optional<std::string> frontAtCmdV) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->cmdV = nowLocked();
        press->pasteAttempted = true;
        press->flagsCombined = flagNames(flagsCombined);
        press->flagsHID = flagNames(flagsHID);
        press->frontAtCmdV = frontAtCmdV ? std::move(frontAtCmdV) : frontmostLocked();
    }
}

void PasteDiagnostics::recordRead(std::optional<int64_t> id, int64_t readsSoFar) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->reads = readsSoFar;
        if (!press->firstRead) {
            press->firstRead = nowLocked();
        }
    }
}

void PasteDiagnostics::recordPasteEnd(std::optional<int64_t> id,
                                      std::optional<std::string> restoreResult,
                                      const std::string& outcome) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->restored = nowLocked();
        press->restoreResult = std::move(restoreResult);
        endLocked(*id, outcome);
    }
}

void PasteDiagnostics::markHudShown(std::optional<int64_t> id) {
    std::lock_guard lock(m_mutex);
    if (Press* press = openRecord(id)) {
        press->hudShown = nowLocked();
    }
}

void PasteDiagnostics::setOutcome(std::optional<int64_t> id, const std::string& outcome) {
    std::lock_guard lock(m_mutex);
    if (openRecord(id)) {
        endLocked(*id, outcome);
    }
}

void PasteDiagnostics::cancel(const std::vector<int64_t>& ids) {
    std::lock_guard lock(m_mutex);
    if (!enabledLocked()) {
        return;
    }
    const std::string reason = m_pendingCancelReason.value_or("unspecified");
    for (int64_t id : ids) {
        if (Press* press = openRecord(id)) {
            press->cancelReason = reason;
            endLocked(id, "cancelled");
        }
    }
    kLog.info("PasteDiag cancel reason=%{public}s presses=%{public}ld", reason,
              static_cast<int64_t>(ids.size()));
    m_pendingCancelReason.reset();
}

void PasteDiagnostics::setPendingCancelReason(const std::string& reason) {
    std::lock_guard lock(m_mutex);
    if (enabledLocked()) {
        m_pendingCancelReason = reason;
    }
}

void PasteDiagnostics::recordWindowPaste(int64_t length) {
    std::lock_guard lock(m_mutex);
    if (!enabledLocked()) {
        return;
    }
    // A row of its own: it takes a press number but is never open, so the
    // paster's setters cannot address it.
    Press press = newPressLocked(nowLocked());
    press.id = m_nextID++;
    press.length = length;
    press.outcome = "window paste";
    writeLocked(press);
}

void PasteDiagnostics::recordUpdaterEvent(const std::string& name) {
    std::lock_guard lock(m_mutex);
    m_lastSparkle = std::make_pair(name, nowLocked());
}

void PasteDiagnostics::noteWake(TimePoint at) {
    std::lock_guard lock(m_mutex);
    m_lastWake = at;
}

void PasteDiagnostics::noteUnlock(TimePoint at) {
    std::lock_guard lock(m_mutex);
    m_lastUnlock = at;
}

void PasteDiagnostics::noteScreenWake(TimePoint at) {
    std::lock_guard lock(m_mutex);
    m_lastScreenWake = at;
}

void PasteDiagnostics::noteActivation(TimePoint at) {
    std::lock_guard lock(m_mutex);
    m_lastActivation = at;
}

}  // namespace velmarune
