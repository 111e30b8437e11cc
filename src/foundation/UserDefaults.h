#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace velmarune {

// Persisted settings: typed values under string keys, read at the moment of
// use so that a change applies to the next dictation. Thread-safe.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // Typed reads: absent when the key is unset or holds another kind of value
    // (a number reads as a bool, an integer as a double, and back).
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<int64_t> integerValue(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<nlohmann::json> dictionaryValue(const std::string& key) const;

    bool boolOr(const std::string& key, bool fallback) const { return boolValue(key).value_or(fallback); }

    void setBool(const std::string& key, bool value);
    void setInteger(const std::string& key, int64_t value);
    void setDouble(const std::string& key, double value);
    void setString(const std::string& key, const std::string& value);
    void setDictionary(const std::string& key, const nlohmann::json& value);
    void remove(const std::string& key);

    // Writes pending changes now (quit does this; every set already persists).
    virtual void flush() {}

protected:
    virtual std::optional<nlohmann::json> value(const std::string& key) const = 0;
    // `value` absent removes the key.
    virtual void store(const std::string& key, const std::optional<nlohmann::json>& value) = 0;
};

// For tests: nothing touches the disk.
class MemoryUserDefaults : public UserDefaults {
public:
    MemoryUserDefaults();
    ~MemoryUserDefaults() override;

protected:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    void store(const std::string& key, const std::optional<nlohmann::json>& value) override;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, nlohmann::json> m_values;
};

// The settings file: one JSON object, replaced atomically (temporary file,
// fsync, rename) with mode 0600 on every change. An edit made by hand is
// picked up on the next read. A malformed file is moved aside (never
// overwritten) and the settings read as empty.
class FileUserDefaults : public UserDefaults {
public:
    explicit FileUserDefaults(std::filesystem::path file);
    ~FileUserDefaults() override;

    const std::filesystem::path& file() const { return m_file; }

protected:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    void store(const std::string& key, const std::optional<nlohmann::json>& value) override;

private:
    void reloadIfChanged() const;
    bool writeLocked() const;

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    mutable std::map<std::string, nlohmann::json> m_values;
    mutable std::optional<std::filesystem::file_time_type> m_loadedTime;
    mutable std::uintmax_t m_loadedSize = 0;
};

}  // namespace velmarune
