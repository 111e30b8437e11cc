#include "foundation/Log.h"

#include <algorithm>
#include <cstdio>

namespace velmarune {

namespace {

std::mutex& sinksMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::shared_ptr<LogSink>>& sinks() {
    static std::vector<std::shared_ptr<LogSink>> list;
    return list;
}

int64_t asSigned(const LogArg& arg) {
    return std::visit(
        [](const auto& v) -> int64_t {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::string>) {
                return 0;
            } else {
                return static_cast<int64_t>(v);
            }
        },
        arg);
}

uint64_t asUnsigned(const LogArg& arg) {
    if (auto* s = std::get_if<int64_t>(&arg)) {
        return static_cast<uint64_t>(*s);
    }
    if (auto* d = std::get_if<double>(&arg)) {
        return static_cast<uint64_t>(*d);
    }
    return static_cast<uint64_t>(asSigned(arg));
}

double asDouble(const LogArg& arg) {
    if (auto* d = std::get_if<double>(&arg)) {
        return *d;
    }
    if (auto* u = std::get_if<uint64_t>(&arg)) {
        return static_cast<double>(*u);
    }
    return static_cast<double>(asSigned(arg));
}

bool asBool(const LogArg& arg) {
    if (auto* b = std::get_if<bool>(&arg)) {
        return *b;
    }
    if (auto* s = std::get_if<std::string>(&arg)) {
        return !s->empty();
    }
    return asDouble(arg) != 0.0;
}

std::string asString(const LogArg& arg) {
    return std::visit(
        [](const auto& v) -> std::string {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<V, bool>) {
                return v ? "true" : "false";
            } else {
                return std::to_string(v);
            }
        },
        arg);
}

template <typename T>
std::string formatOne(const std::string& directive, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0) {
        return {};
    }
    if (static_cast<size_t>(n) < sizeof small) {
        return std::string(small, static_cast<size_t>(n));
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), directive.c_str(), value);
    big.resize(static_cast<size_t>(n));
    return big;
}

}  // namespace

void LogSinks::add(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinksMutex());
    sinks().push_back(std::move(sink));
}

void LogSinks::remove(const std::shared_ptr<LogSink>& sink) {
    std::lock_guard lock(sinksMutex());
    auto& list = sinks();
    list.erase(std::remove(list.begin(), list.end(), sink), list.end());
}

void LogSinks::dispatch(const LogRecord& record) {
    std::vector<std::shared_ptr<LogSink>> current;
    {
        std::lock_guard lock(sinksMutex());
        current = sinks();
    }
    for (auto& sink : current) {
        sink->write(record);
    }
}

std::string renderLogFormat(std::string_view format, const std::vector<LogArg>& args) {
    std::string out;
    out.reserve(format.size() + 16);
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        size_t start = i++;
        bool boolAnnotation = false;
        if (i < format.size() && format[i] == '{') {
            size_t close = format.find('}', i);
            if (close == std::string_view::npos) {
                out.append(format.substr(start));
                break;
            }
            std::string_view annotation = format.substr(i + 1, close - i - 1);
            boolAnnotation = annotation.find("bool") != std::string_view::npos;
            i = close + 1;
        }
        std::string directive = "%";
        while (i < format.size() &&
               std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
            directive += format[i++];
        }
        while (i < format.size() && ((format[i] >= '0' && format[i] <= '9') || format[i] == '.')) {
            directive += format[i++];
        }
        while (i < format.size() &&
               std::string_view("hljztLq").find(format[i]) != std::string_view::npos) {
            ++i;  // Length modifiers: the argument already carries its width.
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conversion = format[i++];
        const LogArg missing = std::string("<missing>");
        const LogArg& arg = next < args.size() ? args[next] : missing;
        ++next;
        switch (conversion) {
            case 'd':
            case 'i':
                if (boolAnnotation) {
                    out += formatOne(directive + "s", asBool(arg) ? "true" : "false");
                } else {
                    out += formatOne(directive + "lld", static_cast<long long>(asSigned(arg)));
                }
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                out += formatOne(directive + "ll" + conversion,
                                 static_cast<unsigned long long>(asUnsigned(arg)));
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                out += formatOne(directive + conversion, asDouble(arg));
                break;
            case 'c':
                out += formatOne(directive + "c", static_cast<int>(asSigned(arg)));
                break;
            default:  // 's', '@' and anything unexpected: print the text.
                out += formatOne(directive + "s", asString(arg).c_str());
                break;
        }
    }
    return out;
}

void Logger::write(LogLevel level, std::string message) const {
    LogSinks::dispatch(LogRecord{level, m_category, std::move(message)});
}

void Logger::console(const std::string& message) const {
    LogSinks::dispatch(LogRecord{LogLevel::info, std::string(kConsoleCategory),
                                 "[Velmarune." + m_category + "] " + message});
}

void StderrLogSink::write(const LogRecord& record) {
    if (record.level < m_minimum) {
        return;
    }
    static const char* const kNames[] = {"debug", "info", "error"};
    std::string line = std::string(kNames[static_cast<int>(record.level)]) + " [" +
                       record.category + "] " + record.message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace velmarune
