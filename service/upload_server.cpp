#include "service/upload_server.h"

#include "service/json_out.h"
#include "service/mini_http.h"
#include "service/pictures.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace qumo_service {

namespace {

// Requests in progress at once; more wait in the queue (the gate holds idle connections).
const size_t kWorkers = 128;
const size_t kChunk = 64 * 1024;
// A body makes progress when at least this much arrives within the stall time.
const int64_t kProgressBytes = 1024;

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

UploadServer::UploadServer(ServiceContext& ctx)
    : ctx_(ctx), gate_([&ctx] {
          GateLimits g;
          g.maxPerAddress = ctx.opts.maxConnPerAddress;
          g.headMs = ctx.opts.headTimeoutMs;
          g.tls = ctx.tls.get();
          return g;
      }()) {}

UploadServer::~UploadServer() {
    Stop();
}

void UploadServer::Start() {
    workers_ = std::make_unique<WorkQueue>(kWorkers);
    gate_.Start([this](GateConn&& c) {
        auto shared = std::make_shared<GateConn>(std::move(c));
        workers_->Push([this, shared] { Serve(std::move(*shared)); });
    });
}

void UploadServer::Stop() {
    stop_ = true;
    gate_.Stop();
    if (workers_)
        workers_->Stop();
    workers_.reset();
}

void UploadServer::Serve(GateConn&& gc) {
    // Reads of a body wait at most the stall time; the gate has the head already. A client
    // that takes no answer holds the worker for the write time-out at most.
    MiniConn c(gc.fd, gc.ssl.get(), stop_, static_cast<int>(ctx_.opts.uploadStallMs),
               std::move(gc.buf));
    std::string head;
    MiniRequest r;
    bool keep = false;
    if (!c.ReadHead(head)) {
        keep = false;
    } else if (!ParseRequestHead(head, r)) {
        c.SendJson(400, Answer(400, "bad request", "{}"), true);
    } else if (!Delay()) {
        keep = false; // stopping
    } else if (r.method == "GET" && r.path == "/v2/getupload.json") {
        keep = GetUpload(c, r, gc.peer);
    } else if (r.method == "POST" && r.path == "/v2/upload.json") {
        keep = Post(c, r, gc.peer);
    } else if (r.method == "GET" && r.path == "/v2/uploadover.json") {
        keep = Over(c, r, gc.peer);
    } else {
        c.SendJson(404, Answer(404, "not found", "{}"), true);
    }
    gc.served++;
    if (keep && r.keepAlive && !stop_.load()) {
        gc.buf = c.TakeRest();
        gate_.Rearm(std::move(gc));
    } else {
        gc.reset = c.WillReset();
        gate_.Close(gc);
    }
}

bool UploadServer::Delay() {
    // --delay-ms: every exchange waits as if it crossed a long way, in slices that end on stop.
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ctx_.faults.DelayMs());
    while (std::chrono::steady_clock::now() < end) {
        if (stop_.load())
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - std::chrono::steady_clock::now(), std::chrono::milliseconds(50)));
    }
    return !stop_.load();
}

bool UploadServer::Session(MiniConn& c, const MiniRequest& r, const std::string& peer, bool close,
                           UploadRow& out, bool& finished, int64_t& fileId) {
    int64_t uid = 0, mid = 0, upid = 0;
    finished = false;
    if (!ParseId(r, "uid", uid) || !ParseId(r, "mid", mid) || !ParseId(r, "upid", upid)) {
        c.SendJson(200, Answer(400, "参数错误！", "{}"), close);
        return false;
    }
    // An address that keeps naming uploads that do not exist is refused for a while, so the
    // pairs cannot be tried at speed; the refusal looks the same whatever the pair.
    if (ctx_.uploadGuesses.RefusedMs(peer) > 0) {
        ctx_.counters.throttled++;
        c.SendJson(200, Answer(429, "尝试过于频繁，请稍后再试！", "{}"), close);
        return false;
    }
    if (std::optional<UploadRow> u = ctx_.db.UploadByMid(mid)) {
        if (u->owner == uid && u->upid == upid) {
            out = *u;
            return true;
        }
    } else if (std::optional<FileRow> f = ctx_.db.FileByUpload(mid, upid)) {
        // A finished upload still answers whoever holds its pair (its owner's client, which
        // may have been stopped between the confirmation and forgetting the task), so the
        // client can complete it again instead of failing for ever.
        if (f->owner == uid) {
            out.mid = mid;
            out.upid = upid;
            out.owner = uid;
            out.size = f->size;
            fileId = f->id;
            finished = true;
            return true;
        }
    }
    // One answer for every wrong part of the pair: a right mid alone gives nothing away.
    ctx_.uploadGuesses.Fail(peer);
    c.SendJson(200, Answer(404, "上传不存在！", "{}"), close);
    return false;
}

bool UploadServer::GetUpload(MiniConn& c, const MiniRequest& r, const std::string& peer) {
    UploadRow u;
    bool finished = false;
    int64_t fileId = 0;
    if (!Session(c, r, peer, false, u, finished, fileId))
        return true;
    if (finished)
        return c.SendJson(200, ByteAnswer(u.size), false);
    ctx_.db.TouchUpload(u.upid);
    return c.SendJson(200, ByteAnswer(ctx_.store.DurablePartLength(u.upid)), false);
}

bool UploadServer::Post(MiniConn& c, const MiniRequest& r, const std::string& peer) {
    ctx_.counters.uploadPosts++;
    UploadRow u;
    bool finished = false;
    int64_t fileId = 0;
    // Every refusal closes the connection: the body is never read.
    if (!Session(c, r, peer, true, u, finished, fileId))
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
    // The lock is held only while the body makes progress: a sender that trickles a few
    // bytes now and then loses the upload after the stall time, so the owner can go on.
    const auto stall = std::chrono::milliseconds(ctx_.opts.uploadStallMs);
    auto lastProgress = std::chrono::steady_clock::now();
    int64_t sinceProgress = 0;
    while (got < r.contentLength) {
        size_t want = static_cast<size_t>(std::min<int64_t>(kChunk, r.contentLength - got));
        if (budget >= 0)
            want = static_cast<size_t>(std::min<int64_t>(want, budget - got));
        if (want == 0) {
            dropped = true;
            break;
        }
        if (std::chrono::steady_clock::now() - lastProgress > stall) {
            ctx_.counters.stalledUploads++;
            complete = false;
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
        sinceProgress += n;
        if (sinceProgress >= std::min<int64_t>(kProgressBytes, r.contentLength - got + n)) {
            sinceProgress = 0;
            lastProgress = std::chrono::steady_clock::now();
        }
    }
    // The received length is made durable before anything reports it.
    ::fdatasync(fd);
    ::close(fd);
    ctx_.db.SetReceived(u.upid, offset + got);
    if (dropped) {
        ctx_.counters.droppedConnections++;
        // Reset rather than close politely: the client sees the connection fail mid-body.
        c.ResetOnClose();
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

bool UploadServer::Over(MiniConn& c, const MiniRequest& r, const std::string& peer) {
    UploadRow u;
    bool finished = false;
    int64_t fileId = 0;
    if (!Session(c, r, peer, false, u, finished, fileId))
        return true;
    if (finished)
        return c.SendJson(
            200, Answer(200, "", JsonObject().Str("id", std::to_string(fileId)).Done()), false);
    if (!ctx_.TryLockUpload(u.upid))
        return c.SendJson(200, Answer(423, "该文件正在上传！", "{}"), false);
    UploadLock unlock(ctx_, u.upid);
    ctx_.db.TouchUpload(u.upid);

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
    // The space was reserved at the announcement; the account may have changed since (its
    // total lowered, other files finished), so it is checked again before the file counts.
    std::optional<Account> a = ctx_.db.AccountByUid(u.owner);
    bool fits = ctx_.db.HoldsContent(u.owner, u.sha1, u.size) ||
                (a && ctx_.db.UsedBytes(u.owner) + u.size <= a->totalMb * (1LL << 20));
    if (!fits) {
        ctx_.counters.refusedNoSpace++;
        unlock.Release();
        return c.SendJson(200, Answer(413, "空间不足", "{}"), false);
    }
    if (!ctx_.store.AdoptPart(u.upid, u.sha1)) {
        unlock.Release();
        return c.SendJson(200, Answer(500, "服务器存储错误！", "{}"), false);
    }
    MakePicturesFor(ctx_.store, u.sha1, u.type == 200);
    std::optional<int64_t> id = ctx_.db.FinishUpload(u, NowSeconds());
    unlock.Release();
    if (!id)
        return c.SendJson(200, Answer(500, "服务器忙，请稍后再试！", "{}"), false);
    ctx_.counters.uploadsFinished++;
    return c.SendJson(200, Answer(200, "", JsonObject().Str("id", std::to_string(*id)).Done()),
                      false);
}

} // namespace qumo_service
