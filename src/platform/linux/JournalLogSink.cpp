#include "platform/linux/JournalLogSink.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

namespace velmarune {

void JournalLogSink::write(const LogRecord& record) {
    int priority = LOG_INFO;
    if (record.level == LogLevel::debug) {
        priority = LOG_DEBUG;
    } else if (record.level == LogLevel::error) {
        priority = LOG_ERR;
    }
    // Without a journal (a container, a non-systemd session) this fails
    // quietly: the stderr sink still has the line.
    sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%i", priority,
                    "SYSLOG_IDENTIFIER=velmarune", "VELMARUNE_SUBSYSTEM=%.*s",
                    static_cast<int>(kLogSubsystem.size()), kLogSubsystem.data(), "VELMARUNE_CATEGORY=%s",
                    record.category.c_str(), nullptr);
}

}  // namespace velmarune
