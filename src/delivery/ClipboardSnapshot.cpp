#include "delivery/ClipboardSnapshot.h"

#include <algorithm>
#include <chrono>

namespace velmarune {

std::shared_ptr<ClipboardSnapshot> ClipboardSnapshot::start(Pasteboard& pasteboard, Executor& queue,
                                                            int64_t budgetBytes) {
    auto snapshot = std::make_shared<ClipboardSnapshot>(pasteboard.changeCount());
    queue.execute(
        [snapshot, &pasteboard, budgetBytes] { snapshot->capture(pasteboard, budgetBytes); });
    return snapshot;
}

void ClipboardSnapshot::capture(Pasteboard& pasteboard, int64_t budgetBytes) {
    const auto readers = pasteboard.readItems();
    const auto preferred = pasteboard.preferredTypes();
    std::vector<std::vector<std::string>> types;
    for (const auto& reader : readers) types.push_back(reader->types());
    {
        std::lock_guard lock(m_mutex);
        m_items.assign(readers.size(), {});
    }
    auto isPreferred = [&](const std::string& type) {
        return std::find(preferred.begin(), preferred.end(), type) != preferred.end();
    };
    const std::function<bool()> stop = [this] { return sealed(); };

    for (int pass = 0; pass < 2; ++pass) {
        const bool preferredPass = pass == 0;
        for (size_t item = 0; item < readers.size(); ++item) {
            for (size_t index = 0; index < types[item].size(); ++index) {
                const auto& type = types[item][index];
                if (isPreferred(type) != preferredPass) {
                    continue;
                }
                if (sealed()) {
                    finish();
                    return;
                }
                // Outside the lock: the owner may take long to produce it.
                auto data = readers[item]->data(type, stop);
                if (!data) {
                    continue;
                }
                std::lock_guard lock(m_mutex);
                if (m_sealed) {
                    continue;
                }
                const auto size = static_cast<int64_t>(data->size());
                if (!preferredPass && m_bytes + size > budgetBytes) {
                    m_skipped.push_back(type + ":" + std::to_string(size));
                    continue;
                }
                m_items[item].push_back(Entry{static_cast<int64_t>(index), type, std::move(*data)});
                m_bytes += size;
            }
        }
    }
    finish();
}

void ClipboardSnapshot::finish() {
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
}

bool ClipboardSnapshot::waitUntilDone(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::max(0.0, seconds)));
    std::unique_lock lock(m_mutex);
    return m_done.wait_until(lock, deadline, [this] { return m_finished; });
}

void ClipboardSnapshot::seal() {
    std::lock_guard lock(m_mutex);
    m_sealed = true;
}

bool ClipboardSnapshot::finished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

bool ClipboardSnapshot::sealed() const {
    std::lock_guard lock(m_mutex);
    return m_sealed;
}

ClipboardSnapshot::Items ClipboardSnapshot::items() const {
    std::lock_guard lock(m_mutex);
    return m_items;
}

std::vector<std::string> ClipboardSnapshot::skipped() const {
    std::lock_guard lock(m_mutex);
    return m_skipped;
}

int64_t ClipboardSnapshot::bytes() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

std::string ClipboardSnapshot::description() const {
    std::lock_guard lock(m_mutex);
    auto parts = m_skipped;
    if (!m_finished) {
        parts.push_back("incomplete");
    }
    std::string result;
    for (const auto& part : parts) {
        if (!result.empty()) {
            result += ' ';
        }
        result += part;
    }
    return result;
}

}  // namespace velmarune
