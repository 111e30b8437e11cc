#include "models/ModelDownloadManager.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/ByteCount.h"
#include "foundation/Error.h"
#include "models/Sha256.h"
#include "models/VolumeCapacity.h"

namespace velmarune {

namespace fs = std::filesystem;

struct ModelDownloadManager::Transfer {
    uint64_t identifier = 0;
    ModelEntry entry;
    fs::path folder;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    int64_t lastPermille = -1;  // worker thread only
    FILE* file = nullptr;       // worker thread only
    int writeErrno = 0;         // worker thread only
    long httpStatus = 0;        // worker thread only: the last response's status
};

namespace {

const char kVerificationFailed[] = "File verification failed. Try again.";

std::string describe(const std::string& action, const fs::path& path, const std::error_code& ec) {
    return "Could not " + action + " " + path.string() + ": " + ec.message();
}

bool isLoopbackHost(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    for (auto& c : host) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (host == "localhost" || host == "::1") {
        return true;
    }
    // Only a real address in 127.0.0.0/8, not a name that happens to start with "127.".
    in_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 &&
           (ntohl(address.s_addr) >> 24) == 127;
}

struct CurlUrlFree {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// Models are fetched over https; plain http is accepted only from this
// machine, where the test servers live. Nothing else is tried at all.
std::optional<std::string> addressProblem(const std::string& address, bool& plainLoopback) {
    plainLoopback = false;
    std::unique_ptr<CURLU, CurlUrlFree> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
        return "Invalid download address: " + address;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(url.get(), CURLUPART_HOST, &host, 0);
    const std::string schemeText = scheme ? scheme : "";
    const std::string hostText = host ? host : "";
    curl_free(scheme);
    curl_free(host);
    if (schemeText == "https") {
        return std::nullopt;
    }
    if (schemeText == "http" && isLoopbackHost(hostText)) {
        plainLoopback = true;
        return std::nullopt;
    }
    return "Refusing to download over an insecure connection: " + address;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

ModelDownloadManager::ModelDownloadManager(MainQueue& mainQueue, NotificationCenter& notifications,
                                           const ModelLocator& locator, FreeSpaceProbe freeSpace,
                                           Digest digest)
    : m_mainQueue(mainQueue),
      m_notifications(notifications),
      m_locator(locator),
      m_freeSpace(freeSpace ? std::move(freeSpace) : FreeSpaceProbe(volumeAvailableCapacity)),
      m_digest(digest ? std::move(digest) : Digest(sha256HexOfFile)),
      m_aliveWeak(m_alive) {
    initialiseCurlOnce();
}

ModelDownloadManager::~ModelDownloadManager() {
    m_alive.reset();
    m_shuttingDown = true;
    std::vector<std::pair<std::shared_ptr<Transfer>, std::thread>> threads;
    {
        std::lock_guard lock(m_threadsMutex);
        threads.swap(m_threads);
    }
    for (auto& [transfer, thread] : threads) {
        transfer->cancelled = true;
    }
    for (auto& [transfer, thread] : threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

fs::path ModelDownloadManager::partPath(const fs::path& installPath) {
    fs::path part = installPath;
    part.replace_extension("part");
    return part;
}

void ModelDownloadManager::start(const ModelEntry& catalogued) {
    if (auto it = m_states.get().find(catalogued.id);
        it != m_states.get().end() && it->second.isActive) {
        return;
    }
    ModelEntry entry = catalogued;
    entry.downloadURL = m_locator.downloadURL(catalogued);
    bool plainLoopback = false;
    if (auto problem = addressProblem(entry.downloadURL, plainLoopback)) {
        setFailed(entry.id, *problem);
        return;
    }
    const fs::path folder = m_locator.modelsFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        setFailed(entry.id, describe("create the folder", folder, ec));
        return;
    }
    removeAbandonedDownloads(entry);
    // No margin here: the requirements check keeps its own.
    if (auto available = m_freeSpace(folder); available && *available < entry.fileSizeBytes) {
        setFailed(entry.id,
                  "Not enough disk space. Need " + formatByteCount(entry.fileSizeBytes) + ".");
        return;
    }

    auto transfer = std::make_shared<Transfer>();
    transfer->entry = entry;
    transfer->folder = folder;
    {
        std::lock_guard lock(m_lock);
        transfer->identifier = m_nextTaskID++;
        m_tasks[entry.id] = transfer;
        m_taskToEntry[transfer->identifier] = entry;
    }
    auto states = m_states.get();
    states[entry.id] = DownloadState{0.0, true, false, std::nullopt};
    m_states.set(std::move(states));

    reapFinishedThreads();
    try {
        std::thread thread([this, transfer] { runTransfer(transfer); });
        std::lock_guard lock(m_threadsMutex);
        m_threads.emplace_back(transfer, std::move(thread));
    } catch (const std::system_error& error) {
        {
            std::lock_guard lock(m_lock);
            m_tasks.erase(entry.id);
            m_taskToEntry.erase(transfer->identifier);
        }
        setFailed(entry.id, error.what());
        return;
    }
    m_log.info("Download started: %{public}s", entry.id);
}

void ModelDownloadManager::cancel(const ModelEntry& entry) {
    std::shared_ptr<Transfer> transfer;
    {
        std::lock_guard lock(m_lock);
        if (auto it = m_tasks.find(entry.id); it != m_tasks.end()) {
            transfer = it->second;
            m_tasks.erase(it);
            m_taskToEntry.erase(transfer->identifier);
            // Under the lock: the worker's commit to installing checks it there.
            transfer->cancelled = true;
        }
    }
    auto states = m_states.get();
    if (states.erase(entry.id) != 0) {
        m_states.set(std::move(states));
    }
}

void ModelDownloadManager::removeAbandonedDownloads(const ModelEntry& entry) {
    // A process that died mid-transfer leaves its partial body behind, and a
    // model is gigabytes. A live transfer (of this process or another) holds
    // a lock on its file, so only abandoned ones are removed.
    const std::string prefix = entry.fileName + ".download-";
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(m_locator.modelsFolder(), ec)) {
        if (item.path().filename().string().rfind(prefix, 0) != 0) {
            continue;
        }
        const int fd = ::open(item.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::error_code ignored;
            fs::remove(item.path(), ignored);
        }
        ::close(fd);
    }
}

void ModelDownloadManager::runTransfer(const std::shared_ptr<Transfer>& transfer) {
    // The body goes to a uniquely named file beside the final one, so that
    // moving it into place is a rename and a cancelled transfer never meets
    // the next one's file.
    std::string pattern =
        (transfer->folder / (transfer->entry.fileName + ".download-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        const std::error_code ec(errno, std::generic_category());
        didComplete(transfer, describe("create a file in", transfer->folder, ec));
        transfer->finished = true;
        return;
    }
    const fs::path temporary(name.data());
    ::flock(fd, LOCK_EX);  // Marks the file as in use; see removeAbandonedDownloads.
    transfer->file = ::fdopen(fd, "wb");
    std::optional<std::string> error;
    if (!transfer->file) {
        ::close(fd);
        error = describe("write", temporary, std::error_code(errno, std::generic_category()));
    } else {
        std::vector<char> buffer(kDigestBlockBytes);
        std::setvbuf(transfer->file, buffer.data(), _IOFBF, buffer.size());
        error = performTransfer(*transfer);
        if (std::fclose(transfer->file) != 0 && !error) {
            error = describe("write", temporary, std::error_code(errno, std::generic_category()));
        }
        transfer->file = nullptr;
    }

    if (transfer->cancelled) {
        // Cancelled (or shutting down): nothing to report, nothing to install.
    } else if (error) {
        didComplete(transfer, *error);
    } else {
        didFinishDownloading(transfer, temporary);
    }
    std::error_code ignored;
    fs::remove(temporary, ignored);
    transfer->finished = true;
}

std::optional<std::string> ModelDownloadManager::performTransfer(Transfer& transfer) {
    CURL* curl = curl_easy_init();
    if (!curl) {
        return std::string("Could not start the download.");
    }
    bool plainLoopback = false;
    addressProblem(transfer.entry.downloadURL, plainLoopback);
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, transfer.entry.downloadURL.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, plainLoopback ? "http,https" : "https");
    // The model host answers with redirects to its content servers.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, plainLoopback ? "http,https" : "https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Velmarune/0.1");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // Bounded waits: give up on a server that never answers or stalls for a minute.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char* data, size_t size, size_t count, void* raw) -> size_t {
            auto* self = static_cast<Transfer*>(raw);
            const size_t bytes = size * count;
            if (std::fwrite(data, 1, bytes, self->file) != bytes) {
                self->writeErrno = errno;
                return 0;  // Ends the transfer with a write error.
            }
            return bytes;
        });
    struct ProgressContext {
        ModelDownloadManager* manager;
        Transfer* transfer;
    } progress{this, &transfer};
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
    // Called at least once a second even when no data flows, so a cancel
    // takes effect promptly.
    curl_easy_setopt(
        curl, CURLOPT_XFERINFOFUNCTION,
        +[](void* raw, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) -> int {
            auto* context = static_cast<ProgressContext*>(raw);
            if (context->transfer->cancelled) {
                return 1;  // Aborts the transfer; reported as cancelled, so ignored.
            }
            context->manager->didWriteData(*context->transfer, static_cast<int64_t>(now),
                                           static_cast<int64_t>(total));
            return 0;
        });

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &transfer.httpStatus);
    curl_easy_cleanup(curl);
    switch (code) {
        case CURLE_OK:
            return std::nullopt;
        case CURLE_WRITE_ERROR:
            if (transfer.writeErrno != 0) {
                return "Could not save the download: " +
                       std::string(std::strerror(transfer.writeErrno));
            }
            break;
        // curl's own words for these name its build, not the problem.
        case CURLE_UNSUPPORTED_PROTOCOL:
            return std::string(
                "The server sent the download elsewhere, to an address that is not allowed "
                "(models come over https, or http from this computer).");
        case CURLE_TOO_MANY_REDIRECTS:
            return std::string("The server sent the download elsewhere too many times.");
        case CURLE_OPERATION_TIMEDOUT:
            return std::string("The server stopped answering. Try again.");
        // curl counts the bytes still missing; the user needs to know it broke off.
        case CURLE_PARTIAL_FILE:
            return std::string("The download broke off before the whole file arrived. Try again.");
        default:
            break;
    }
    return errorBuffer[0] != '\0' ? std::string(errorBuffer)
                                  : std::string(curl_easy_strerror(code));
}

void ModelDownloadManager::didWriteData(Transfer& transfer, int64_t written, int64_t expected) {
    // A length the server does not announce gives no progress.
    if (expected <= 0) {
        return;
    }
    // curl calls this far more often than data arrives; a thousandth is finer
    // than any progress bar can show.
    const int64_t permille = written >= expected ? 1000 : written * 1000 / expected;
    if (permille == transfer.lastPermille) {
        return;
    }
    transfer.lastPermille = permille;
    std::string id;
    {
        std::lock_guard lock(m_lock);
        auto it = m_taskToEntry.find(transfer.identifier);
        if (it == m_taskToEntry.end()) {
            return;
        }
        id = it->second.id;
    }
    const double fraction = static_cast<double>(written) / static_cast<double>(expected);
    onMain([this, id, fraction] {
        auto states = m_states.get();
        auto it = states.find(id);
        if (it == states.end() || !it->second.isActive) {
            return;
        }
        it->second.fractionCompleted = fraction;
        m_states.set(std::move(states));
    });
}

void ModelDownloadManager::didComplete(const std::shared_ptr<Transfer>& transfer,
                                       const std::string& error) {
    std::optional<ModelEntry> entry;
    {
        std::lock_guard lock(m_lock);
        if (transfer->cancelled) {
            return;
        }
        entry = forgetLocked(*transfer);
    }
    if (!entry) {
        return;
    }
    m_log.error("Network error: %{public}s", error);
    postFailed(transfer, error);
}

std::optional<ModelEntry> ModelDownloadManager::forgetLocked(const Transfer& transfer) {
    auto it = m_taskToEntry.find(transfer.identifier);
    if (it == m_taskToEntry.end()) {
        return std::nullopt;
    }
    ModelEntry entry = it->second;
    m_taskToEntry.erase(it);
    if (auto task = m_tasks.find(entry.id);
        task != m_tasks.end() && task->second->identifier == transfer.identifier) {
        m_tasks.erase(task);
    }
    return entry;
}

void ModelDownloadManager::didFinishDownloading(const std::shared_ptr<Transfer>& transfer,
                                                const fs::path& temporary) {
    // The transfer stays registered while it is verified, so that a cancel
    // reaches it; it is forgotten at the moment it either fails or commits
    // to installing, whichever comes first.
    const ModelEntry& entry = transfer->entry;
    onMain([this, transfer] {
        if (transfer->cancelled) {
            return;
        }
        auto states = m_states.get();
        if (auto it = states.find(transfer->entry.id); it != states.end()) {
            it->second.isVerifying = true;
            m_states.set(std::move(states));
        }
    });
    const fs::path finalPath = m_locator.installPath(entry);
    const fs::path part = partPath(finalPath);
    // Removes the .part file and forgets the transfer; false when a cancel
    // came first and nothing is to be reported.
    auto abandon = [&] {
        std::error_code ignored;
        fs::remove(part, ignored);
        std::lock_guard lock(m_lock);
        return !transfer->cancelled && forgetLocked(*transfer).has_value();
    };

    std::error_code ec;
    fs::create_directories(finalPath.parent_path(), ec);
    if (!ec && fs::exists(part, ec)) {
        fs::remove(part, ec);
    }
    if (!ec) {
        fs::rename(temporary, part, ec);
    }
    if (ec) {
        const std::string description = describe("move the download to", part, ec);
        if (abandon()) {
            m_log.error("Move to .part failed: %{public}s", description);
            postFailed(transfer, description);
        }
        return;
    }

    try {
        const std::string digest = m_digest(part, [this, &transfer] {
            return m_shuttingDown.load() || transfer->cancelled.load();
        });
        if (digest != entry.sha256) {
            if (abandon()) {
                m_log.error("SHA-256 mismatch for %{public}s: got %{public}s…", entry.id,
                            digest.substr(0, 8));
                // A page of the server's in place of the model: say what it answered.
                std::string error = kVerificationFailed;
                if (transfer->httpStatus >= 400) {
                    error +=
                        " The server answered HTTP " + std::to_string(transfer->httpStatus) + ".";
                }
                postFailed(transfer, error);
            }
            return;
        }
        // The moment of commitment: a cancel that came first wins; one that
        // comes later finds the model already installed.
        {
            std::lock_guard lock(m_lock);
            if (transfer->cancelled || !forgetLocked(*transfer)) {
                std::error_code ignored;
                fs::remove(part, ignored);
                return;
            }
        }
        // rename() replaces the old file in one step, so a failure here still
        // leaves the previous model in place.
        fs::rename(part, finalPath, ec);
        if (ec) {
            throw Error(describe("move the verified model to", finalPath, ec));
        }
    } catch (const std::exception& error) {
        std::error_code ignored;
        fs::remove(part, ignored);
        if (m_shuttingDown || transfer->cancelled) {
            return;
        }
        {
            std::lock_guard lock(m_lock);
            forgetLocked(*transfer);
        }
        m_log.error("Verification failed: %{public}s", std::string(error.what()));
        postFailed(transfer, error.what());
        return;
    }
    m_log.info("Installed: %{public}s", entry.id);
    onMain([this, id = entry.id] {
        auto states = m_states.get();
        if (states.erase(id) != 0) {
            m_states.set(std::move(states));
        }
        m_notifications.post(kModelDownloadCompletedNotification, id);
    });
}

void ModelDownloadManager::setFailed(const std::string& id, const std::string& error) {
    auto states = m_states.get();
    states[id] = DownloadState{0.0, false, false, error};
    m_states.set(std::move(states));
}

void ModelDownloadManager::postFailed(const std::shared_ptr<Transfer>& transfer,
                                      const std::string& error) {
    // A cancel on the main thread before this runs has the last word.
    onMain([this, transfer, error] {
        if (!transfer->cancelled) {
            setFailed(transfer->entry.id, error);
        }
    });
}

void ModelDownloadManager::onMain(std::function<void()> work) {
    m_mainQueue.post([alive = m_aliveWeak, work = std::move(work)] {
        if (alive.lock()) {
            work();
        }
    });
}

void ModelDownloadManager::reapFinishedThreads() {
    std::lock_guard lock(m_threadsMutex);
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (it->first->finished && it->second.joinable()) {
            it->second.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace velmarune
