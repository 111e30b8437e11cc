#include "models/Sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/Error.h"

namespace velmarune {

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);  // A close failure after reading changes nothing.
        }
    }
};

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

std::string sha256HexOfFile(const std::filesystem::path& file,
                            const std::function<bool()>& shouldStop) {
    FdCloser handle{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (handle.fd < 0) {
        throw Error("Could not open " + file.string() + ": " + std::strerror(errno));
    }
    // The whole file is read once, front to back.
    ::posix_fadvise(handle.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw Error("Could not start a SHA-256 digest.");
    }
    std::vector<unsigned char> block(kDigestBlockBytes);
    for (;;) {
        if (shouldStop && shouldStop()) {
            throw Error("Verification of " + file.string() + " was stopped.");
        }
        ssize_t got = ::read(handle.fd, block.data(), block.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error("Could not read " + file.string() + ": " + std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        if (EVP_DigestUpdate(context.get(), block.data(), static_cast<size_t>(got)) != 1) {
            throw Error("SHA-256 digest failed.");
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        throw Error("SHA-256 digest failed.");
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0f];
    }
    return hex;
}

}  // namespace velmarune
