#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "foundation/Time.h"

namespace velmarune {

// The audio figures of one press.
struct PressAudio {
    std::optional<std::string> device;
    double sourceRate = 0;
    int64_t sourceChannels = 0;
    std::string sourceType;
    int64_t buffers = 0;
    int64_t dropped = 0;
    int64_t formatChanges = 0;
    bool captureRestarted = false;
    int64_t newAudioMs = 0;
    float rms = 0;
    float peak = 0;
    std::string gate;
    std::optional<std::string> micMode;
};

struct DecodeFigures {
    int64_t latencyMs = 0;
    std::optional<int64_t> segments;
    std::optional<double> compressionRatio;
    std::optional<std::string> loop;
    int64_t collapsedWords = 0;
    std::optional<std::string> lastSegment;
};

struct TrimFigures {
    float floor = 0;
    float threshold = 0;
    int64_t trimmedMs = 0;
    std::optional<int64_t> quietTailMs;
    std::optional<int64_t> zeroMs;
};

// One record per press, filled as the dictation moves on.
struct Press {
    int64_t id = 0;
    TimePoint keyDown;
    WallTime keyDownDate;  // for the key_down column only; offsets use keyDown
    std::optional<TimePoint> keyUp, transcribed, pasteboardWrite, cmdV, cleared, restored, hudShown;
    std::optional<int64_t> length;
    std::optional<std::string> frontAtKeyDown, frontAtTranscribed, frontAtCmdV;
    std::optional<double> secondsSinceActivation, secondsSinceWake;
    bool pasteAttempted = false;
    std::optional<std::string> flagsCombined, flagsHID;
    std::optional<int64_t> changeCountBefore, changeCountAfterWrite, changeCountAtClear;
    std::optional<bool> oursAtClear;
    std::optional<std::string> restoreResult, outcome, cancelReason, lastSparkle;
    std::optional<PressAudio> audio;
    std::optional<std::string> language;
    std::optional<float> confidence;
    std::optional<std::string> route;
    std::optional<DecodeFigures> decode;
    std::optional<TimePoint> firstRead;
    int64_t reads = 0;
    std::optional<bool> snapshotComplete;
    std::optional<std::string> snapshotSkipped;
    std::optional<double> secondsSinceUnlock, secondsSinceScreenWake;
    std::optional<TrimFigures> trim;
    std::optional<std::string> frontAtRelease;
    std::optional<int64_t> queuedAhead, queueWaitMs, pasteWaitMs, keysHeldMs, trimMs, detectMs,
        encodeMs;
};

// The per-press diagnostic recorder. Every operation takes the lock and does
// nothing while recording is off; operations on an id that is not open are
// ignored. Called from the main thread and from the paster's background paths.
class PasteDiagnostics {
  public:
    struct Dependencies {
        std::function<bool()> isEnabled;                        // reads "DiagnosticPasteLog"
        std::function<void(const std::string& row)> sink;       // appends a CSV row
        std::function<TimePoint()> now;                         // the monotonic clock when empty
        std::function<std::optional<std::string>()> frontmost;  // "class:pid" or absent
        std::string build;                                      // e.g. "0.1.0(1)"
        std::function<WallTime()> wallNow;                      // the system clock when empty
    };

    explicit PasteDiagnostics(Dependencies deps);

    // Opens a record for a new press; absent while recording is off.
    std::optional<int64_t> begin();

    // Pipeline setters.
    void markKeyUp(std::optional<int64_t> id, std::optional<std::string> frontAtRelease);
    void setAudio(std::optional<int64_t> id, const PressAudio& audio);
    void setQueuedAhead(std::optional<int64_t> id, int64_t ahead);
    void setQueueWaitMs(std::optional<int64_t> id, int64_t ms);
    void setLength(std::optional<int64_t> id, int64_t length);
    // Marks the transcription time and the front application at that moment.
    void markTranscribed(std::optional<int64_t> id);
    void setRecognition(std::optional<int64_t> id, std::optional<std::string> language,
                        std::optional<float> confidence, std::optional<std::string> route,
                        const DecodeFigures& decode, std::optional<TrimFigures> trim,
                        std::optional<int64_t> trimMs, std::optional<int64_t> detectMs,
                        std::optional<int64_t> encodeMs);
    void setPasteWait(std::optional<int64_t> id, int64_t pasteWaitMs, int64_t keysHeldMs);
    // The press whose paste starts now; the paster's setters address it.
    void setPasting(std::optional<int64_t> id);

    // Whether recording is on now ("DiagnosticPasteLog").
    bool isEnabled() const;
    // The press a paste starting now belongs to: `pastingID` if set, else
    // `latestID`; absent while recording is off.
    std::optional<int64_t> currentPressID() const;

    // Paster setters, each for the press its paste started with (from
    // currentPressID), so a paste superseded by the next one still ends its
    // own record. Flags in the modifier layout (ctrl 0x40000, shift 0x20000,
    // opt 0x80000, cmd 0x100000, fn 0x800000); an absent front application is
    // sampled here.
    void recordSnapshot(std::optional<int64_t> id, bool complete, const std::string& skipped);
    void recordPasteboardWrite(std::optional<int64_t> id, int64_t changeCountBefore,
                               int64_t changeCountAfterWrite);
    void recordKeystroke(std::optional<int64_t> id, uint64_t flagsCombined, uint64_t flagsHID,
                         std::optional<std::string> frontAtCmdV);
    // `readsSoFar` counts every read of this paste, the first included.
    void recordRead(std::optional<int64_t> id, int64_t readsSoFar);
    void recordPasteEnd(std::optional<int64_t> id, std::optional<std::string> restoreResult,
                        const std::string& outcome);

    void markHudShown(std::optional<int64_t> id);

    // Ends a record with an outcome and writes it.
    void setOutcome(std::optional<int64_t> id, const std::string& outcome);
    // Ends the given records as "cancelled" with the pending cancel reason.
    void cancel(const std::vector<int64_t>& ids);
    void setPendingCancelReason(const std::string& reason);
    // A paste from the recent-dictations window writes a row of its own.
    void recordWindowPaste(int64_t length);

    // The updater's event and the four time points below are kept even while
    // recording is off, so that the first press after switching it on has them.
    void recordUpdaterEvent(const std::string& name);
    void noteWake(TimePoint at);
    void noteUnlock(TimePoint at);
    void noteScreenWake(TimePoint at);
    void noteActivation(TimePoint at);

    // Names of the set modifier flags joined by "+", or "none".
    static std::string flagNames(uint64_t flags);
    // The 68-column header line (no line feed).
    static const std::string& csvHeader();
    // One CSV row for a record (no line feed).
    std::string formatRow(const Press& press) const;

  private:
    bool enabledLocked() const;
    TimePoint nowLocked() const;
    std::optional<std::string> frontmostLocked() const;
    // The open record with this id, or null (also while recording is off).
    Press* openRecord(std::optional<int64_t> id);
    std::optional<int64_t> pasteTarget() const;
    void endLocked(int64_t id, const std::string& outcome);
    void writeLocked(const Press& press);
    Press newPressLocked(TimePoint now);

    Dependencies m_deps;
    mutable std::mutex m_mutex;
    std::map<int64_t, Press> m_open;
    std::optional<int64_t> m_latestID;
    std::optional<int64_t> m_pastingID;
    int64_t m_nextID = 1;
    std::optional<TimePoint> m_lastWake, m_lastUnlock, m_lastScreenWake, m_lastActivation;
    std::optional<std::pair<std::string, TimePoint>> m_lastSparkle;
    std::optional<std::string> m_pendingCancelReason;
};

// Appends rows to the CSV file: checks the header, moves an old file aside,
// creates the folder. A failure (a full disk, a read-only folder) loses that
// row and nothing else: a row written in part is cut off again, so the file
// only ever holds whole rows. The first failure of a run of them is logged.
class DiagnosticCsvFile {
  public:
    // `now` names a moved-aside file (local time); the system clock if empty.
    explicit DiagnosticCsvFile(std::string path, std::function<WallTime()> now = {});
    void append(const std::string& row);

  private:
    void moveAside();
    // Empty when written, else what went wrong.
    std::string write(const std::string& text, bool headerFirst);

    std::string m_path;
    std::function<WallTime()> m_now;
    Logger m_log{"PasteDiagnostics"};
    bool m_failing = false;
};

}  // namespace velmarune
