#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velmarune {

// A third-party component the application ships, links or downloads, and
// its licence. The texts are resources: "ack-<id>.txt" holds the component's
// notice, and a licence that several components share is kept once.
struct Acknowledgement {
    std::string id;
    std::string name;
    std::string licence;
    std::string sharedLicenceFile;  // appended to the notice; empty when the notice is complete
};

const std::vector<Acknowledgement>& acknowledgements();

// The notice followed by the shared licence text, read as UTF-8 from
// `folder`; empty when the notice is missing.
std::string acknowledgementText(const Acknowledgement& item, const std::filesystem::path& folder);

// "Version 0.1.0 (build 1a2b3c4d5e)", or without the build when none is known.
std::string versionLine(const std::string& version, const std::string& commit);

}  // namespace velmarune
