#include "delivery/RecentDictations.h"

#include <algorithm>

#include "foundation/Log.h"
#include "foundation/Utf8.h"

namespace velmarune {

namespace {
const Logger log{"RecentDictations"};

bool isBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    });
}

// The first `count` code points.
std::string firstCharacters(const std::string& text, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) {
                return text.substr(0, i);
            }
            ++seen;
        }
    }
    return text;
}
}  // namespace

void RecentDictations::observe(SessionEvents& events) {
    std::weak_ptr<RecentDictations> weak = weak_from_this();
    m_observation = events.observe([weak](SessionEvent event) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::string reason;
        switch (event) {
            case SessionEvent::screenLocked:
                reason = "screen locked";
                break;
            case SessionEvent::displaySlept:
                reason = "display slept";
                break;
            case SessionEvent::willSleep:
                reason = "system sleeping";
                break;
            default:
                return;
        }
        self->clear(reason);
        if (self->onSessionEnded) {
            self->onSessionEnded(reason);
        }
    });
}

std::optional<int64_t> RecentDictations::add(const std::string& text) {
    if (isBlank(text)) {
        return std::nullopt;
    }
    const int64_t id = m_nextID++;
    m_entries.insert(m_entries.begin(), Entry{id, text, m_clock.now()});
    if (m_entries.size() > kCapacity) {
        m_entries.resize(kCapacity);
    }
    std::weak_ptr<RecentDictations> weak = weak_from_this();
    m_clock.postAfter(kRetentionSeconds, [weak] {
        if (auto self = weak.lock()) {
            self->expire();
        }
    });
    if (onChange) {
        onChange();
    }
    return id;
}

void RecentDictations::expire() {
    const auto now = m_clock.now();
    const auto before = m_entries.size();
    std::erase_if(m_entries, [&](const Entry& entry) {
        return secondsBetween(entry.dictatedAt, now) >= kRetentionSeconds;
    });
    if (m_entries.size() != before && onChange) {
        onChange();
    }
}

void RecentDictations::clear(const std::string& reason) {
    const auto count = static_cast<int64_t>(m_entries.size());
    m_entries.clear();
    log.info("cleared (%{public}s): %{public}ld entries", reason, count);
    if (onChange) {
        onChange();
    }
}

std::optional<RecentDictations::Entry> RecentDictations::newest() const {
    if (m_entries.empty()) {
        return std::nullopt;
    }
    return m_entries.front();
}

std::optional<RecentDictations::Entry> RecentDictations::entry(int64_t id) const {
    for (const auto& entry : m_entries) {
        if (entry.id == id) {
            return entry;
        }
    }
    return std::nullopt;
}

std::string RecentDictations::menuTitle(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    std::string title;
    for (size_t i = 0; i < words.size() && i < kTitleWords; ++i) {
        if (i > 0) {
            title += ' ';
        }
        title += words[i];
    }
    if (utf8Characters(title) > static_cast<int64_t>(kTitleCharacters)) {
        title = firstCharacters(title, kTitleCharacters);
        const auto last = title.find_last_not_of(" \t");
        title = last == std::string::npos ? std::string() : title.substr(0, last + 1);
        return title + "…";
    }
    if (words.size() > kTitleWords) {
        return title + "…";
    }
    return title;
}

}  // namespace velmarune
