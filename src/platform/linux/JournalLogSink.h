#pragma once

#include "foundation/Log.h"

namespace velmarune {

// Sends log lines to the systemd journal with identifier "velmarune" and
// fields for the subsystem and the category, so that
// `journalctl -t velmarune VELMARUNE_CATEGORY=Bootstrap` finds them.
class JournalLogSink : public LogSink {
public:
    void write(const LogRecord& record) override;
};

}  // namespace velmarune
