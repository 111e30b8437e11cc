#include "ui/Acknowledgements.h"

#include <fstream>
#include <sstream>

namespace velmarune {

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

const std::vector<Acknowledgement>& acknowledgements() {
    static const std::vector<Acknowledgement> list = {
        {"whisper-cpp", "whisper.cpp and ggml", "MIT", ""},
        {"ivrit-ai", "ivrit.ai Hebrew models", "Apache 2.0", "Apache-2.0.txt"},
        {"openai-whisper", "OpenAI Whisper large-v3-turbo", "MIT", ""},
        {"qt", "Qt 6", "LGPL 3.0", "LGPL-3.0.txt"},
        {"pulseaudio", "PulseAudio client library", "LGPL 2.1 or later", "LGPL-2.1.txt"},
        {"libsoxr", "libsoxr", "LGPL 2.1 or later", "LGPL-2.1.txt"},
        {"libsndfile", "libsndfile", "LGPL 2.1 or later", "LGPL-2.1.txt"},
        {"libsystemd", "libsystemd", "LGPL 2.1 or later", "LGPL-2.1.txt"},
        {"libcurl", "libcurl", "curl (MIT-style)", ""},
        {"openssl", "OpenSSL", "Apache 2.0", "Apache-2.0.txt"},
        {"nlohmann-json", "JSON for Modern C++", "MIT", ""},
        {"fmt", "{fmt}", "MIT, with an exception for object code", ""},
        {"icu", "ICU", "Unicode (MIT-style)", ""},
        {"zlib", "zlib", "zlib", ""},
        {"x11", "X Window System client libraries", "MIT/X11", ""},
    };
    return list;
}

std::string acknowledgementText(const Acknowledgement& item, const std::filesystem::path& folder) {
    std::string text = readFile(folder / ("ack-" + item.id + ".txt"));
    if (text.empty() || item.sharedLicenceFile.empty()) {
        return text;
    }
    return text + "\n" + readFile(folder / item.sharedLicenceFile);
}

std::string versionLine(const std::string& version, const std::string& commit) {
    return "Version " + version + (commit.empty() ? "" : " (build " + commit + ")");
}

}  // namespace velmarune
