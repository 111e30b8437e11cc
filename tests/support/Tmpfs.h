#pragma once

#include <filesystem>
#include <string>

namespace velmarune::testing {

// A tmpfs of a chosen size mounted on a folder, for "the disk is full" cases;
// unmounted when the object goes away. Mounting needs root (CAP_SYS_ADMIN).
class Tmpfs {
  public:
    // `size` as mount(8) takes it: "64m", "6g". Creates the folder.
    Tmpfs(std::filesystem::path at, const std::string& size);
    ~Tmpfs();
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool mounted() const { return m_mounted; }
    // Changes the size in place; the files stay. True on success.
    bool resize(const std::string& size);

  private:
    std::filesystem::path m_at;
    bool m_mounted = false;
};

}  // namespace velmarune::testing
