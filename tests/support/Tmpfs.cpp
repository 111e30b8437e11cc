#include "support/Tmpfs.h"

#include <sys/mount.h>

namespace velmarune::testing {

Tmpfs::Tmpfs(std::filesystem::path at, const std::string& size) : m_at(std::move(at)) {
    std::filesystem::create_directories(m_at);
    m_mounted = ::mount("tmpfs", m_at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
}

Tmpfs::~Tmpfs() {
    if (m_mounted) {
        ::umount2(m_at.c_str(), MNT_DETACH);
    }
}

bool Tmpfs::resize(const std::string& size) {
    // tmpfs takes memory for what is written, not for its size.
    return m_mounted &&
           ::mount("tmpfs", m_at.c_str(), "tmpfs", MS_REMOUNT, ("size=" + size).c_str()) == 0;
}

}  // namespace velmarune::testing
