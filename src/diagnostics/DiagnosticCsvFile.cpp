#include <fmt/chrono.h>
#include <fmt/format.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "diagnostics/PasteDiagnostics.h"

namespace velmarune {

namespace fs = std::filesystem;

DiagnosticCsvFile::DiagnosticCsvFile(std::string path, std::function<WallTime()> now)
    : m_path(std::move(path)), m_now(std::move(now)) {}

void DiagnosticCsvFile::append(const std::string& row) {
    std::string error;
    try {
        const fs::path file(m_path);
        std::error_code ec;
        if (file.has_parent_path()) {
            fs::create_directories(file.parent_path(), ec);
        }

        bool needsHeader = true;
        if (fs::exists(file, ec)) {
            std::string firstLine;
            {
                std::ifstream in(file, std::ios::binary);
                std::getline(in, firstLine);
            }
            if (firstLine == PasteDiagnostics::csvHeader()) {
                needsHeader = false;
            } else if (fs::file_size(file, ec) == 0 && !ec) {
                // An empty file holds nothing worth keeping: start it afresh.
            } else {
                moveAside();
            }
        }
        error = write(row + '\n', needsHeader);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty() && !m_failing) {
        m_log.error(
            "diagnostic log %{public}s not written: %{public}s; rows are dropped until it can be "
            "written again",
            m_path, error);
    } else if (error.empty() && m_failing) {
        m_log.info("diagnostic log %{public}s written again", m_path);
    }
    m_failing = !error.empty();
}

std::string DiagnosticCsvFile::write(const std::string& text, bool headerFirst) {
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::strerror(errno);
    }
    const off_t before = ::lseek(fd, 0, SEEK_END);
    // Only a file that is empty now gets the header; if the move aside
    // failed, the rows still go after the old ones.
    const std::string data =
        (headerFirst && before == 0 ? PasteDiagnostics::csvHeader() + '\n' : std::string()) + text;
    size_t done = 0;
    std::string error;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : ENOSPC);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!error.empty() && done > 0 && before >= 0) {
        // Cut the partial row off again: a reader must never meet half a row.
        [[maybe_unused]] int r = ::ftruncate(fd, before);
    }
    ::close(fd);
    return error;
}

// Keeps a file written under another header beside the new one, named after
// the moment it was set aside, in local time.
void DiagnosticCsvFile::moveAside() {
    const fs::path file(m_path);
    const WallTime now = m_now ? m_now() : std::chrono::system_clock::now();
    const std::time_t t =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(now));
    const std::string stamp = fmt::format("{:%Y-%m-%d-%H%M%S}", fmt::localtime(t));
    const std::string stem = file.stem().string();

    // Two moves within one second must not overwrite the first one kept.
    fs::path target = file.parent_path() / fmt::format("{}-{}.csv", stem, stamp);
    std::error_code ec;
    for (int n = 2; fs::exists(target, ec) && n < 1000; ++n) {
        target = file.parent_path() / fmt::format("{}-{}-{}.csv", stem, stamp, n);
    }
    fs::rename(file, target, ec);
}

}  // namespace velmarune
