#pragma once

#include <filesystem>
#include <string>

namespace velmarune::testing {

// A fresh folder under the system temporary folder, removed with its contents
// when the object goes away.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "velmarune-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& child) const { return m_path / child; }

  private:
    std::filesystem::path m_path;
};

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& contents);

}  // namespace velmarune::testing
