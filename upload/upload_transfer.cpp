// PostFileData: the raw POST of a file's remaining bytes to the upload server.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/global_var.h"
#include "net/api_url.h"
#include "net/net_link.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "upload/bandwidth_cap.h"
#include "upload/transfer_control.h"
#include "upload/transfer_stats.h"
#include "upload/upload_protocol.h"
#include "upload/upload_view.h"

namespace {

constexpr std::size_t kChunk = 15360;

std::atomic<uint64_t> g_bodyBytes{0};
std::atomic<int> g_timeoutMs{kTransferTimeoutMs};

// Close the file and the socket whatever path the transfer leaves by.
struct FileCloser {
    int fd = -1;
    ~FileCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};
bool SendAll(net::Link& link, const void* data, std::size_t n, int timeoutMs) {
    return link.SendAll(data, n, timeoutMs) == platform::SocketStatus::Ok;
}

// A reply the upload server sent before the body was complete: it refused the body (more
// bytes than announced, upload closed) and stopped reading. Whatever arrived before its
// reset is still readable. Empty when there is none.
std::string EarlyReply(net::Link& link) {
    char reply[1025] = {};
    ssize_t got = link.Recv(reply, 1024);
    if (got <= 0)
        return {};
    return std::string(reply, ::strnlen(reply, static_cast<std::size_t>(got)));
}

} // namespace

uint64_t UploadBodyBytesSent() {
    return g_bodyBytes.load();
}

void SetTransferTimeoutForTesting(int ms) {
    g_timeoutMs = ms > 0 ? ms : kTransferTimeoutMs;
}

std::string PostFileData(const char* path, const UpInfo& upInfo, const char* localPath,
                         uint64_t start, IUploadView* view) {
    transfers::TransferContext ctx;
    ctx.view = view;
    return PostFileData(path, upInfo, localPath, start, ctx);
}

std::string PostFileData(const char* path, const UpInfo& upInfo, const char* localPath,
                         uint64_t start, const transfers::TransferContext& ctx) {
    IUploadView* const view = ctx.view;
    const int timeout = g_timeoutMs.load();
    if (path == nullptr || localPath == nullptr)
        return "0";
    FileCloser file;
    // Only a regular file is sent; opening anything else must not block the worker.
    file.fd = ::open(localPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return "0";
    off_t end = ::lseek(file.fd, 0, SEEK_END);
    if (end < 0)
        return "0";
    const uint64_t size = static_cast<uint64_t>(end);
    if (start > size)
        return "0"; // the server claims more than the file holds: nothing sane to send

    std::string host = api_url::EscapeUtf8(upInfo.m_tcUploadIp);
    if (host.empty() || host.size() > 63)
        return "0";
    uint32_t addr = 0;
    if (upInfo.m_nUploadPort <= 0 || upInfo.m_nUploadPort > 65535 ||
        !platform::ResolveIPv4(host.c_str(), addr))
        return "0";
    // The upload server of an https service is reached over TLS, verified for the name the
    // service gave; a failed handshake fails the transfer, nothing goes in clear.
    const bool secure = net::MustUseTls(host, upInfo.m_nUploadPort);
    std::shared_ptr<net::Link> link = net::Link::Open(
        platform::SocketConnect(addr, static_cast<uint16_t>(upInfo.m_nUploadPort), timeout),
        secure ? host : std::string(), timeout);
    if (!link)
        return "0";
    net::Link& sock = *link;

    // Content-Length carries all 64 bits: files over 4 GiB are sent whole.
    std::string head = std::string("POST ") + path + " HTTP/1.1\r\nHost: " + host +
                       "\r\nAccept: */*\r\nContent-Length: " + std::to_string(size - start) +
                       "\r\n\r\n";
    if (!SendAll(sock, head.data(), head.size(), timeout)) {
        std::string early = EarlyReply(sock);
        return early.empty() ? "0" : early;
    }
    if (::lseek(file.fd, static_cast<off_t>(start), SEEK_SET) < 0)
        return "0";
    const std::atomic<int>& control = transfers::ControlOf(ctx);
    if (control != 0)
        return "0";
    upload::BandwidthCap& cap = upload::BandwidthCap::Shared();

    static thread_local char buf[kChunk];
    uint64_t last = 0, total = 0;
    bool reported99 = false;
    unsigned chunks = 0;
    while (true) {
        // Under a cap a chunk is at most a short slice of it, so a low cap still moves bytes
        // well within the service's stall limit and never runs up a long debt.
        const std::size_t want = upload::BandwidthCap::ChunkUnder(kChunk);
        ssize_t n;
        do {
            n = ::read(file.fd, buf, want);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return "0";
        if (n > 0) {
            // Nothing goes out uncapped: a take that ended early (a pause, a cancel, the
            // worker's stop) ends the transfer.
            if (!cap.Take(static_cast<std::size_t>(n), [&control] { return control != 0; }))
                return "0";
            if (!SendAll(sock, buf, static_cast<std::size_t>(n), timeout)) {
                std::string early = EarlyReply(sock);
                return early.empty() ? "0" : early;
            }
            g_bodyBytes += static_cast<uint64_t>(n);
            const uint64_t at = start + total + static_cast<uint64_t>(n);
            if (ctx.track)
                UploadStats().BytesSent(ctx.figures, static_cast<uint64_t>(n), at, size);
            else
                UploadStats().BytesSent(upInfo.m_strFilePath, static_cast<uint64_t>(n), at, size);
        }
        total += static_cast<uint64_t>(n);
        // 99 at most: "uploaded" is the confirmation's to say, not the last byte's.
        uint64_t p = size == 0 ? 99 : std::min<uint64_t>(99, (start + total) * 100 / size);
        if (p > last || (p == 99 && !reported99)) {
            last = p;
            reported99 = reported99 || p == 99;
            if (control == 0 && view != nullptr)
                view->PostProgress(static_cast<int>(p), upInfo.m_strFilePath);
        }
        if (static_cast<std::size_t>(n) < want)
            break;
        if (control != 0)
            return "0";
        // A fast peer never blocks a send, so look for the worker's stop now and then, and
        // for an answer that came before the body was done (a refusal): sending on is
        // pointless then.
        if ((++chunks & 63) == 0) {
            if (platform::ThreadCancelRequested())
                return "0";
            std::string early = EarlyReply(sock);
            if (!early.empty())
                return early;
        }
    }
    ::close(file.fd);
    file.fd = -1;
    if (control != 0)
        return "0";

    char reply[1025] = {};
    ssize_t got = -2;
    while (got == -2) {
        if (sock.WaitReadable(timeout) != platform::SocketStatus::Ok)
            return "0";
        got = sock.Recv(reply, 1024);
    }
    if (got <= 0)
        return "0";
    return std::string(reply, ::strnlen(reply, static_cast<std::size_t>(got)));
}
