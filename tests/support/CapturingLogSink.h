#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Log.h"

namespace velmarune {

// Keeps every record, for tests that check exact log lines.
class CapturingLogSink : public LogSink {
  public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(m_mutex);
        m_records.push_back(record);
    }
    std::vector<LogRecord> records() const {
        std::lock_guard lock(m_mutex);
        return m_records;
    }
    // Messages, optionally only of one category.
    std::vector<std::string> messages(std::string_view category = {}) const {
        std::vector<std::string> result;
        for (const auto& r : records()) {
            if (category.empty() || r.category == category) {
                result.push_back(r.message);
            }
        }
        return result;
    }
    bool contains(std::string_view message) const { return count(message) > 0; }
    size_t count(std::string_view message) const {
        const auto all = records();
        return static_cast<size_t>(std::count_if(
            all.begin(), all.end(), [&](const LogRecord& r) { return r.message == message; }));
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_records.clear();
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<LogRecord> m_records;
};

}  // namespace velmarune
