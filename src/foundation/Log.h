#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace velmarune {

enum class LogLevel { debug, info, error };

// The subsystem every category belongs to.
inline constexpr std::string_view kLogSubsystem = "com.quorin.velmarune";
inline constexpr std::string_view kConsoleCategory = "Console";

struct LogRecord {
    LogLevel level;
    std::string category;
    std::string message;
};

// Receives every rendered line. write() may be called from any thread.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// The process-wide set of sinks. The shell adds the journal and stderr sinks at
// start-up; tests add a capturing sink.
class LogSinks {
  public:
    static void add(std::shared_ptr<LogSink> sink);
    static void remove(const std::shared_ptr<LogSink>& sink);
    static void dispatch(const LogRecord& record);
};

// Adds a sink for the lifetime of this object.
class ScopedLogSink {
  public:
    explicit ScopedLogSink(std::shared_ptr<LogSink> sink) : m_sink(std::move(sink)) {
        LogSinks::add(m_sink);
    }
    ~ScopedLogSink() { LogSinks::remove(m_sink); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

  private:
    std::shared_ptr<LogSink> m_sink;
};

using LogArg = std::variant<int64_t, uint64_t, double, bool, std::string>;

// Renders a printf-style format as the system log would: "{public}",
// "{private}" and similar annotations are dropped, and a "{bool}" annotation
// prints the argument as true/false. "%f" gives six decimals, as in printf.
std::string renderLogFormat(std::string_view format, const std::vector<LogArg>& args);

namespace detail {
template <typename T>
LogArg toLogArg(const T& value) {
    using D = std::decay_t<T>;
    if constexpr (std::is_same_v<D, bool>) {
        return value;
    } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
        return static_cast<int64_t>(value);
    } else if constexpr (std::is_integral_v<D>) {
        return static_cast<uint64_t>(value);
    } else if constexpr (std::is_floating_point_v<D>) {
        return static_cast<double>(value);
    } else if constexpr (std::is_enum_v<D>) {
        return static_cast<int64_t>(value);
    } else {
        return std::string(std::string_view(value));
    }
}
}  // namespace detail

// A logger for one category. Cheap to copy; holds no state besides its name.
class Logger {
  public:
    explicit Logger(std::string category) : m_category(std::move(category)) {}

    template <typename... Args>
    void debug(std::string_view format, const Args&... args) const {
        log(LogLevel::debug, format, args...);
    }
    template <typename... Args>
    void info(std::string_view format, const Args&... args) const {
        log(LogLevel::info, format, args...);
    }
    template <typename... Args>
    void error(std::string_view format, const Args&... args) const {
        log(LogLevel::error, format, args...);
    }
    template <typename... Args>
    void log(LogLevel level, std::string_view format, const Args&... args) const {
        write(level, renderLogFormat(format, {detail::toLogArg(args)...}));
    }

    // Writes "[Velmarune.<category>] <message>" under the "Console" category,
    // for the few start-up and reset milestones a terminal user should see.
    void console(const std::string& message) const;

    const std::string& category() const { return m_category; }

  private:
    void write(LogLevel level, std::string message) const;

    std::string m_category;
};

// Writes "<level> [<category>] <message>" lines to standard error.
class StderrLogSink : public LogSink {
  public:
    explicit StderrLogSink(LogLevel minimum = LogLevel::info) : m_minimum(minimum) {}
    void write(const LogRecord& record) override;

  private:
    LogLevel m_minimum;
};

}  // namespace velmarune
