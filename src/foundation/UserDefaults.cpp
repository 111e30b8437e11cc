#include "foundation/UserDefaults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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
    if (v->is_number_integer()) {
        return v->get<int64_t>();
    }
    if (v->is_number_float()) {
        return static_cast<int64_t>(v->get<double>());
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

void UserDefaults::setBool(const std::string& key, bool v) { store(key, json(v)); }
void UserDefaults::setInteger(const std::string& key, int64_t v) { store(key, json(v)); }
void UserDefaults::setDouble(const std::string& key, double v) { store(key, json(v)); }
void UserDefaults::setString(const std::string& key, const std::string& v) { store(key, json(v)); }
void UserDefaults::setDictionary(const std::string& key, const json& v) { store(key, v); }
void UserDefaults::remove(const std::string& key) { store(key, std::nullopt); }

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

void MemoryUserDefaults::store(const std::string& key, const std::optional<json>& v) {
    std::lock_guard lock(m_mutex);
    if (v) {
        m_values[key] = *v;
    } else {
        m_values.erase(key);
    }
}

FileUserDefaults::FileUserDefaults(fs::path file) : m_file(std::move(file)) {}

FileUserDefaults::~FileUserDefaults() = default;

void FileUserDefaults::reloadIfChanged() const {
    std::error_code ec;
    auto time = fs::last_write_time(m_file, ec);
    if (ec) {
        // No file (yet): whatever is in memory is all there is.
        if (m_loadedTime) {
            m_values.clear();
            m_loadedTime.reset();
        }
        return;
    }
    auto size = fs::file_size(m_file, ec);
    if (m_loadedTime && *m_loadedTime == time && m_loadedSize == size) {
        return;
    }
    m_loadedTime = time;
    m_loadedSize = size;
    m_values.clear();

    std::ifstream in(m_file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    json parsed = json::parse(text.str(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        fs::path aside = m_file;
        aside += ".malformed-" + timestampForFileName();
        fs::rename(m_file, aside, ec);
        kLog.error("settings file %{public}s is not a JSON object; moved to %{public}s and starting empty",
                   m_file.string(), ec ? std::string("(move failed)") : aside.string());
        m_loadedTime.reset();
        return;
    }
    for (auto& [key, v] : parsed.items()) {
        m_values[key] = v;
    }
}

std::optional<json> FileUserDefaults::value(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    reloadIfChanged();
    auto it = m_values.find(key);
    if (it == m_values.end()) {
        return std::nullopt;
    }
    return it->second;
}

void FileUserDefaults::store(const std::string& key, const std::optional<json>& v) {
    std::lock_guard lock(m_mutex);
    reloadIfChanged();
    if (v) {
        m_values[key] = *v;
    } else {
        m_values.erase(key);
    }
    writeLocked();
}

bool FileUserDefaults::writeLocked() const {
    std::error_code ec;
    fs::create_directories(m_file.parent_path(), ec);
    json object = json::object();
    for (const auto& [key, v] : m_values) {
        object[key] = v;
    }
    const std::string text = object.dump(2) + "\n";
    fs::path temp = m_file;
    temp += ".tmp-" + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        kLog.error("cannot write settings to %{public}s: %{public}s", temp.string(), std::strerror(errno));
        return false;
    }
    size_t written = 0;
    bool ok = true;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        written += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), m_file.c_str()) != 0) {
        kLog.error("cannot replace settings file %{public}s: %{public}s", m_file.string(), std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
    }
    ::chmod(m_file.c_str(), 0600);
    m_loadedTime = fs::last_write_time(m_file, ec);
    m_loadedSize = fs::file_size(m_file, ec);
    return true;
}

}  // namespace velmarune
