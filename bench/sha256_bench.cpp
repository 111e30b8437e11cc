// SHA-256 verification speed of a downloaded model: the whole-file digest of
// a 1 GB file, streamed in 1 MiB blocks as the download manager does it, next
// to its two ingredients (reading the file, hashing bytes already in memory)
// so the figures say which one limits it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "models/Sha256.h"

namespace {

constexpr int64_t kFileBytes = 1'000'000'000;
bool g_fileCreated = false;  // made on first use, removed at exit

const std::filesystem::path& benchFile() {
    static const std::filesystem::path path = [] {
        std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("velmarune-sha256-bench-" + std::to_string(::getpid()));
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (!out) {
            std::perror("sha256_bench: cannot create the test file");
            std::exit(1);
        }
        std::vector<unsigned char> block(velmarune::kDigestBlockBytes);
        std::mt19937_64 generator(42);
        for (int64_t written = 0; written < kFileBytes;) {
            for (size_t i = 0; i + 8 <= block.size(); i += 8) {
                const uint64_t value = generator();
                std::memcpy(block.data() + i, &value, 8);
            }
            const size_t n =
                static_cast<size_t>(std::min<int64_t>(kFileBytes - written, block.size()));
            if (std::fwrite(block.data(), 1, n, out) != n) {
                std::perror("sha256_bench: cannot write the test file");
                std::exit(1);
            }
            written += static_cast<int64_t>(n);
        }
        std::fclose(out);
        g_fileCreated = true;
        return file;
    }();
    return path;
}

// Decimal gigabytes per second, over wall time for "/real_time" runs and
// over the thread's CPU time otherwise (the figure of an unshared core).
void reportRate(benchmark::State& state, int64_t bytes) {
    state.counters["GB/s"] =
        benchmark::Counter(static_cast<double>(bytes) / 1e9, benchmark::Counter::kIsRate);
}

// What verification costs: open, read and hash the whole file.
void BM_VerifyFile1GB(benchmark::State& state) {
    const auto& file = benchFile();
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmarune::sha256HexOfFile(file));
    }
    reportRate(state, state.iterations() * kFileBytes);
}

// Reading alone, same block size (from the page cache once the file is warm).
void BM_ReadFile1GB(benchmark::State& state) {
    const auto& file = benchFile();
    std::vector<char> block(velmarune::kDigestBlockBytes);
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_RDONLY);
        while (::read(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    reportRate(state, state.iterations() * kFileBytes);
}

// Hashing alone: one 1 MiB block in memory, over and over.
void BM_HashMemory(benchmark::State& state) {
    std::vector<unsigned char> block(velmarune::kDigestBlockBytes, 0x5a);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    for (auto _ : state) {
        EVP_DigestUpdate(context, block.data(), block.size());
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    reportRate(state, state.iterations() * static_cast<int64_t>(block.size()));
}

BENCHMARK(BM_HashMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile1GB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_VerifyFile1GB)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_VerifyFile1GB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_fileCreated) {
        std::error_code ignored;
        std::filesystem::remove(benchFile(), ignored);
    }
    return 0;
}
