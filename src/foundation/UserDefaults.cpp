#include "foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <cerrno>
#include <nlohmann/json.hpp>

#include "foundation/Log.h"

namespace velmarune {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {
const Logger kLog{"UserDefaults"};

std::string timestampForFileName() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &local);
    return buffer;
}
}  // namespace

std::optional<bool> UserDefaults::boolValue(const std::string& key) const {
    auto v = value(key);
    if (!v) {
        return std::nullopt;
    }
    if (v->is_boolean()) {
        return v->get<bool>();
    }
    if (v->is_number()) {
        return v->get<double>() != 0.0;
    }
    return std::nullopt;
}

std::optional<int64_t> UserDefaults::integerValue(const std::string& key) const {
    auto v = value(key);
    if (!v) {
        return std::nullopt;
    }
    if (v->is_number_unsigned()) {
        const auto u = v->get<uint64_t>();
        return u <= static_cast<uint64_t>(INT64_MAX) ? std::optional<int64_t>(u) : std::nullopt;
    }
    if (v->is_number_integer()) {
        return v->get<int64_t>();
    }
    if (v->is_number_float()) {
        // Outside the range (1e300 typed by hand) there is no integer to give.
        const double d = v->get<double>();
        return d >= -9.2e18 && d <= 9.2e18 ? std::optional<int64_t>(static_cast<int64_t>(d))
                                           : std::nullopt;
    }
    if (v->is_boolean()) {
        return v->get<bool>() ? 1 : 0;
    }
    return std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_number()) {
        return v->get<double>();
    }
    return std::nullopt;
}

std::optional<std::string> UserDefaults::stringValue(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_string()) {
        return v->get<std::string>();
    }
    return std::nullopt;
}

std::optional<json> UserDefaults::dictionaryValue(const std::string& key) const {
    auto v = value(key);
    if (v && v->is_object()) {
        return v;
    }
    return std::nullopt;
}

bool UserDefaults::setBool(const std::string& key, bool v) { return store(key, json(v)); }
bool UserDefaults::setInteger(const std::string& key, int64_t v) { return store(key, json(v)); }
bool UserDefaults::setDouble(const std::string& key, double v) { return store(key, json(v)); }
bool UserDefaults::setString(const std::string& key, const std::string& v) { return store(key, json(v)); }
bool UserDefaults::setDictionary(const std::string& key, const json& v) { return store(key, v); }
bool UserDefaults::remove(const std::string& key) { return store(key, std::nullopt); }

MemoryUserDefaults::MemoryUserDefaults() = default;
MemoryUserDefaults::~MemoryUserDefaults() = default;

std::optional<json> MemoryUserDefaults::value(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(key);
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool MemoryUserDefaults::store(const std::string& key, const std::optional<json>& v) {
    std::lock_guard lock(m_mutex);
    if (v) {
        m_values[key] = *v;
    } else {
        m_values.erase(key);
    }
    return true;
}

FileUserDefaults::FileUserDefaults(fs::path file, ProblemHandler onProblem)
    : m_file(std::move(file)), m_onProblem(std::move(onProblem)) {}

FileUserDefaults::~FileUserDefaults() = default;

void FileUserDefaults::setProblemHandler(ProblemHandler onProblem) {
    std::lock_guard lock(m_handlerMutex);
    m_onProblem = std::move(onProblem);
}

void FileUserDefaults::report(const std::optional<std::string>& problem) const {
    if (!problem) {
        return;
    }
    ProblemHandler handler;
    {
        std::lock_guard lock(m_handlerMutex);
        handler = m_onProblem;
    }
    if (handler) {
        handler(*problem);
    }
}

std::optional<json> FileUserDefaults::parse(std::string_view text) {
    // nlohmann parses without recursion, but copying and printing the result
    // recurse: a file nested 200 000 levels deep would overflow the stack.
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxSettingsDepth) {
                return std::nullopt;
            }
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    return parsed;
}

std::optional<std::string> FileUserDefaults::reloadIfChanged() const {
    // Reading fails: the settings read as empty, the file stays as it is,
    // and the problem is reported once until it changes.
    auto unreadable = [this](const std::string& reason) -> std::optional<std::string> {
        m_values.clear();
        m_loadedTime.reset();
        if (m_unreadable == reason) {
            return std::nullopt;
        }
        m_unreadable = reason;
        const std::string message = "cannot read the settings file " + m_file.string() + ": " +
                                    reason + "; using the defaults and leaving the file as it is";
        kLog.error("%{public}s", message);
        return message;
    };

    std::error_code ec;
    auto time = fs::last_write_time(m_file, ec);
    if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
        // No file (yet): whatever is in memory is all there is.
        if (m_loadedTime || m_unreadable) {
            m_values.clear();
            m_loadedTime.reset();
            m_unreadable.reset();
        }
        return std::nullopt;
    }
    if (ec) {
        return unreadable(ec.message());
    }
    auto size = fs::file_size(m_file, ec);
    if (ec) {
        return unreadable(ec.message());
    }
    if (m_loadedTime && *m_loadedTime == time && m_loadedSize == size) {
        return std::nullopt;
    }

    std::string text;
    const int fd = ::open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return unreadable(std::strerror(errno));
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return unreadable(std::strerror(error));
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    m_unreadable.reset();
    m_loadedTime = time;
    m_loadedSize = size;
    m_values.clear();

    std::optional<json> parsed = parse(text);
    if (!parsed) {
        fs::path aside = m_file;
        aside += ".malformed-" + timestampForFileName();
        fs::rename(m_file, aside, ec);
        m_loadedTime.reset();
        const std::string message =
            ec ? "the settings file " + m_file.string() +
                     " is not valid and could not be moved aside (" + ec.message() +
                     "); using the defaults"
               : "the settings file " + m_file.string() + " was not valid; moved it to " +
                     aside.string() + " and started with the defaults";
        kLog.error("%{public}s", message);
        return message;
    }
    for (auto& [key, v] : parsed->items()) {
        m_values[key] = v;
    }
    return std::nullopt;
}

std::optional<json> FileUserDefaults::value(const std::string& key) const {
    std::optional<std::string> problem;
    std::optional<json> result;
    {
        std::lock_guard lock(m_mutex);
        problem = reloadIfChanged();
        if (auto it = m_values.find(key); it != m_values.end()) {
            result = it->second;
        }
    }
    report(problem);
    return result;
}

bool FileUserDefaults::store(const std::string& key, const std::optional<json>& v) {
    std::optional<std::string> readProblem;
    std::optional<std::string> writeProblem;
    {
        std::lock_guard lock(m_mutex);
        readProblem = reloadIfChanged();
        if (m_unreadable) {
            // Writing now would replace the user's settings with this one key.
            writeProblem = "did not save the setting " + key + ": the settings file " +
                           m_file.string() + " cannot be read (" + *m_unreadable + ")";
        } else {
            if (v) {
                m_values[key] = *v;
            } else {
                m_values.erase(key);
            }
            writeProblem = writeLocked();
        }
    }
    report(readProblem);
    report(writeProblem);
    return !writeProblem;
}

std::optional<std::string> FileUserDefaults::writeLocked() const {
    auto failed = [this](const std::string& reason) -> std::optional<std::string> {
        const std::string message =
            "could not save the settings to " + m_file.string() + ": " + reason;
        kLog.error("%{public}s", message);
        return message;
    };
    std::error_code ec;
    fs::create_directories(m_file.parent_path(), ec);
    if (ec) {
        return failed(ec.message());
    }
    json object = json::object();
    for (const auto& [key, v] : m_values) {
        object[key] = v;
    }
    const std::string text = object.dump(2) + "\n";
    fs::path temp = m_file;
    temp += ".tmp-" + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return failed(std::strerror(errno));
    }
    size_t written = 0;
    int error = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), m_file.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        return failed(std::strerror(error));
    }
    ::chmod(m_file.c_str(), 0600);
    m_loadedTime = fs::last_write_time(m_file, ec);
    m_loadedSize = fs::file_size(m_file, ec);
    return std::nullopt;
}

}  // namespace velmarune
