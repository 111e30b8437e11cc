#include <fmt/chrono.h>
#include <fmt/format.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "diagnostics/PasteDiagnostics.h"

namespace velmarune {

namespace fs = std::filesystem;

DiagnosticCsvFile::DiagnosticCsvFile(std::string path, std::function<TimePoint()> now)
    : m_path(std::move(path)), m_now(std::move(now)) {}

void DiagnosticCsvFile::append(const std::string& row) {
    // The log is a convenience: any failure loses this row and nothing else.
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

        std::ofstream out(file, std::ios::binary | std::ios::app);
        if (!out) {
            return;
        }
        if (needsHeader) {
            // Only a file that is empty now gets the header; if the move
            // aside failed, the rows still go after the old ones.
            out.seekp(0, std::ios::end);
            if (out.tellp() == std::streampos(0)) {
                out << PasteDiagnostics::csvHeader() << '\n';
            }
        }
        out << row << '\n';
    } catch (...) {
    }
}

// Keeps a file written under another header beside the new one, named after
// the moment it was set aside, in local time.
void DiagnosticCsvFile::moveAside() {
    const fs::path file(m_path);
    const TimePoint now = m_now ? m_now() : std::chrono::system_clock::now();
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
