#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

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

    // Each returns false when the change could not be saved (the settings
    // file reports why through its problem handler).
    bool setBool(const std::string& key, bool value);
    bool setInteger(const std::string& key, int64_t value);
    bool setDouble(const std::string& key, double value);
    bool setString(const std::string& key, const std::string& value);
    bool setDictionary(const std::string& key, const nlohmann::json& value);
    bool remove(const std::string& key);

    // Writes pending changes now (quit does this; every set already persists).
    virtual void flush() {}

protected:
    virtual std::optional<nlohmann::json> value(const std::string& key) const = 0;
    // `value` absent removes the key. False when it could not be saved.
    virtual bool store(const std::string& key, const std::optional<nlohmann::json>& value) = 0;
};

// For tests: nothing touches the disk.
class MemoryUserDefaults : public UserDefaults {
public:
    MemoryUserDefaults();
    ~MemoryUserDefaults() override;

protected:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    bool store(const std::string& key, const std::optional<nlohmann::json>& value) override;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, nlohmann::json> m_values;
};

// The settings file: one JSON object, replaced atomically (temporary file,
// fsync, rename) with mode 0600 on every change. An edit made by hand is
// picked up on the next read. A file that is read and does not parse (or
// nests deeper than kMaxSettingsDepth) is moved aside, never overwritten, and
// the settings read as empty. A file that cannot be read is left alone: the
// settings read as empty and no change is saved over it.
class FileUserDefaults : public UserDefaults {
public:
    // Told, once per event and outside any lock, what went wrong: a file
    // that cannot be read, one moved aside, a change that was not saved.
    // Called on the thread that touched the settings.
    using ProblemHandler = std::function<void(const std::string& message)>;

    explicit FileUserDefaults(std::filesystem::path file, ProblemHandler onProblem = {});
    ~FileUserDefaults() override;

    const std::filesystem::path& file() const { return m_file; }
    void setProblemHandler(ProblemHandler onProblem);

    // The settings in `text`, or nothing when it is not a JSON object or
    // nests too deeply.
    static std::optional<nlohmann::json> parse(std::string_view text);

protected:
    std::optional<nlohmann::json> value(const std::string& key) const override;
    bool store(const std::string& key, const std::optional<nlohmann::json>& value) override;

private:
    // Both return a problem to report once the lock is released.
    std::optional<std::string> reloadIfChanged() const;
    std::optional<std::string> writeLocked() const;
    void report(const std::optional<std::string>& problem) const;

    std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    mutable std::map<std::string, nlohmann::json> m_values;
    mutable std::optional<std::filesystem::file_time_type> m_loadedTime;
    mutable std::uintmax_t m_loadedSize = 0;
    // Set while the file exists but cannot be read: nothing is written over it.
    mutable std::optional<std::string> m_unreadable;
    mutable std::mutex m_handlerMutex;
    ProblemHandler m_onProblem;
};

// Deeper nesting than any settings need; it also keeps recursive copies and
// dumps of a hostile file far from the stack's end.
inline constexpr int kMaxSettingsDepth = 64;

}  // namespace velmarune
