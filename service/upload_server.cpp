#include "service/upload_server.h"

#include "service/json_out.h"
#include "service/mini_http.h"
#include "service/pictures.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qumo_service {

namespace {

const int kIdleMs = 30000;
const int kMaxConnections = 512;
const size_t kChunk = 64 * 1024;

bool ParseId(const MiniRequest& r, const char* name, int64_t& out) {
    std::string v = r.Param(name);
    if (v.empty() || v.size() > 18)
        return false;
    for (char c : v)
        if (c < '0' || c > '9')
            return false;
    out = std::strtoll(v.c_str(), nullptr, 10);
    return out > 0;
}

std::string Answer(int status, const std::string& message, const std::string& attachment) {
    return Envelope(status, message, attachment);
}

std::string ByteAnswer(int64_t n) {
    return Answer(200, "", JsonObject().Int("byte", n).Done());
}

bool WriteAllFd(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Holds an upload for one connection; released before the answer goes out, so a client that
// sends its next call at once never finds the upload still busy.
class UploadLock {
public:
    UploadLock(ServiceContext& ctx, int64_t upid) : ctx_(ctx), upid_(upid) {}
    ~UploadLock() { Release(); }
    void Release() {
        if (held_)
            ctx_.UnlockUpload(upid_);
        held_ = false;
    }

private:
    ServiceContext& ctx_;
    int64_t upid_;
    bool held_ = true;
};

} // namespace

UploadServer::~UploadServer() {
    Stop();
}

bool UploadServer::Bind(int port, std::string& err) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        err = "upload socket: " + std::string(std::strerror(errno));
        return false;
    }
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 128) != 0) {
        err = "upload port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    return true;
}

void UploadServer::Start() {
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void UploadServer::Stop() {
    stop_ = true;
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return active_ == 0; });
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void UploadServer::AcceptLoop() {
    while (!stop_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (active_ >= kMaxConnections) {
                ::close(fd);
                continue;
            }
            ++active_;
        }
        std::thread([this, fd] {
            Serve(fd);
            ::close(fd);
            std::lock_guard<std::mutex> lock(mu_);
            if (--active_ == 0)
                cv_.notify_all();
        }).detach();
    }
}

void UploadServer::Serve(int fd) {
    MiniConn c(fd, stop_, kIdleMs);
    for (;;) {
        std::string head;
        if (!c.ReadHead(head))
            return;
        MiniRequest r;
        if (!ParseRequestHead(head, r)) {
            c.SendJson(400, Answer(400, "bad request", "{}"), true);
            return;
        }
        bool keep = false;
        if (r.method == "GET" && r.path == "/v2/getupload.json") {
            keep = GetUpload(c, r);
        } else if (r.method == "POST" && r.path == "/v2/upload.json") {
            keep = Post(c, r);
        } else if (r.method == "GET" && r.path == "/v2/uploadover.json") {
            keep = Over(c, r);
        } else {
            c.SendJson(404, Answer(404, "not found", "{}"), true);
            return;
        }
        if (!keep || !r.keepAlive)
            return;
    }
}

bool UploadServer::Session(MiniConn& c, const MiniRequest& r, bool close, UploadRow& out,
                           bool& finished) {
    int64_t uid = 0, mid = 0, upid = 0;
    finished = false;
    if (!ParseId(r, "uid", uid) || !ParseId(r, "mid", mid) || !ParseId(r, "upid", upid)) {
        c.SendJson(200, Answer(400, "参数错误！", "{}"), close);
        return false;
    }
    if (std::optional<UploadRow> u = ctx_.db.UploadByMid(mid)) {
        if (u->owner != uid || u->upid != upid) {
            c.SendJson(200, Answer(401, "无权访问此上传！", "{}"), close);
            return false;
        }
        out = *u;
        return true;
    }
    // A finished upload still answers its owner, so a lost confirmation can be repeated.
    if (std::optional<FileRow> f = ctx_.db.FileById(mid)) {
        if (f->owner == uid) {
            out.mid = mid;
            out.upid = upid;
            out.owner = uid;
            out.size = f->size;
            out.sha1 = f->sha1;
            finished = true;
            return true;
        }
    }
    c.SendJson(200, Answer(404, "上传不存在！", "{}"), close);
    return false;
}

bool UploadServer::GetUpload(MiniConn& c, const MiniRequest& r) {
    UploadRow u;
    bool finished = false;
    if (!Session(c, r, false, u, finished))
        return true;
    int64_t n = finished ? u.size : ctx_.store.DurablePartLength(u.upid);
    return c.SendJson(200, ByteAnswer(n), false);
}

bool UploadServer::Post(MiniConn& c, const MiniRequest& r) {
    ctx_.counters.uploadPosts++;
    UploadRow u;
    bool finished = false;
    // Every refusal closes the connection: the body is never read.
    if (!Session(c, r, true, u, finished))
        return false;
    if (r.chunked || r.contentLength < 0) {
        c.SendJson(411, Answer(411, "需要 Content-Length", "{}"), true);
        return false;
    }
    if (finished) {
        if (r.contentLength != 0) {
            c.SendJson(200, Answer(413, "文件已上传完成！", "{}"), true);
            return false;
        }
        return c.SendJson(200, ByteAnswer(u.size), false);
    }
    if (!ctx_.TryLockUpload(u.upid)) {
        c.SendJson(200, Answer(423, "该文件正在上传！", "{}"), true);
        return false;
    }
    UploadLock unlock(ctx_, u.upid);

    int64_t offset = ctx_.store.DurablePartLength(u.upid);
    if (r.contentLength > u.size - offset) {
        unlock.Release();
        c.SendJson(200, Answer(413, "数据超出文件大小！", "{}"), true);
        return false;
    }
    if (r.expectContinue && !c.WriteAll("HTTP/1.1 100 Continue\r\n\r\n"))
        return false;
    int fd = ::open(ctx_.store.PartPath(u.upid).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::lseek(fd, offset, SEEK_SET) != offset) {
        if (fd >= 0)
            ::close(fd);
        c.SendJson(200, Answer(500, "服务器存储错误！", "{}"), true);
        return false;
    }
    int64_t budget = r.contentLength > 0 ? ctx_.faults.TakeDropBudget(r.contentLength) : -1;
    std::vector<char> buf(kChunk);
    int64_t got = 0;
    bool complete = true, dropped = false, diskError = false;
    while (got < r.contentLength) {
        size_t want = static_cast<size_t>(std::min<int64_t>(kChunk, r.contentLength - got));
        if (budget >= 0)
            want = static_cast<size_t>(std::min<int64_t>(want, budget - got));
        if (want == 0) {
            dropped = true;
            break;
        }
        int64_t n = c.ReadSome(buf.data(), want);
        if (n <= 0) {
            complete = false;
            break;
        }
        if (!WriteAllFd(fd, buf.data(), static_cast<size_t>(n))) {
            diskError = true;
            break;
        }
        got += n;
        ctx_.counters.uploadBytes += n;
    }
    // The received length is made durable before anything reports it.
    ::fdatasync(fd);
    ::close(fd);
    ctx_.db.SetReceived(u.upid, offset + got);
    if (dropped) {
        ctx_.counters.droppedConnections++;
        // Reset rather than close politely: the client sees the connection fail mid-body.
        linger l{1, 0};
        ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        return false;
    }
    if (diskError) {
        ctx_.store.TruncatePart(u.upid, offset);
        ctx_.db.SetReceived(u.upid, offset);
        unlock.Release();
        c.SendJson(200, Answer(500, "服务器存储错误！", "{}"), true);
        return false;
    }
    unlock.Release();
    if (!complete)
        return false;
    return c.SendJson(200, ByteAnswer(offset + got), false);
}

bool UploadServer::Over(MiniConn& c, const MiniRequest& r) {
    UploadRow u;
    bool finished = false;
    if (!Session(c, r, false, u, finished))
        return true;
    if (finished)
        return c.SendJson(
            200, Answer(200, "", JsonObject().Str("id", std::to_string(u.mid)).Done()), false);
    if (!ctx_.TryLockUpload(u.upid))
        return c.SendJson(200, Answer(423, "该文件正在上传！", "{}"), false);
    UploadLock unlock(ctx_, u.upid);

    int64_t have = ctx_.store.DurablePartLength(u.upid);
    if (have < u.size) {
        unlock.Release();
        JsonObject o;
        o.Int("byte", have);
        return c.SendJson(200, Answer(412, "文件未上传完整！", o.Done()), false);
    }
    if (u.size == 0)
        ctx_.store.TruncatePart(u.upid, 0); // an empty file has an empty part
    std::string digest = Sha1OfFile(ctx_.store.PartPath(u.upid));
    std::string claimed;
    for (char ch : r.Param("sha1"))
        claimed += static_cast<char>((ch >= 'A' && ch <= 'F') ? ch - 'A' + 'a' : ch);
    bool sizeOk = !r.Has("size") || r.Param("size") == std::to_string(u.size);
    if (digest != u.sha1 || (!claimed.empty() && claimed != u.sha1) || !sizeOk) {
        // What arrived is not the announced file: throw it away so a new try starts at 0.
        ctx_.store.TruncatePart(u.upid, 0);
        ctx_.db.SetReceived(u.upid, 0);
        ctx_.counters.sha1Mismatches++;
        unlock.Release();
        return c.SendJson(200, Answer(409, "文件校验失败，请重新上传！", "{}"), false);
    }
    if (!ctx_.store.AdoptPart(u.upid, u.sha1)) {
        unlock.Release();
        return c.SendJson(200, Answer(500, "服务器存储错误！", "{}"), false);
    }
    MakePicturesFor(ctx_.store, u.sha1, u.type == 200);
    bool recorded = ctx_.db.FinishUpload(u, NowSeconds());
    unlock.Release();
    if (!recorded)
        return c.SendJson(200, Answer(500, "服务器忙，请稍后再试！", "{}"), false);
    ctx_.counters.uploadsFinished++;
    return c.SendJson(200, Answer(200, "", JsonObject().Str("id", std::to_string(u.mid)).Done()),
                      false);
}

} // namespace qumo_service
