// Reading one response off a pooled connection.
#include <cstring>

#include "net/http_chunked.h"
#include "net/http_client.h"
#include "platform/socket.h"

namespace {

// Where the header ends: the earlier of CR LF CR LF and LF LF, searched from `from`.
bool FindHeaderEnd(const std::string& buf, std::size_t from, std::size_t& end) {
    std::size_t crlf = buf.find("\r\n\r\n", from);
    std::size_t lflf = buf.find("\n\n", from);
    if (crlf == std::string::npos && lflf == std::string::npos)
        return false;
    if (crlf != std::string::npos && (lflf == std::string::npos || crlf < lflf))
        end = crlf + 4;
    else
        end = lflf + 2;
    return true;
}

enum class LengthResult { None, Ok, Negative, Bad };

LengthResult ParseContentLength(const std::optional<std::string>& v, std::uint64_t& out) {
    if (!v)
        return LengthResult::None;
    if (!v->empty() && (*v)[0] == '-')
        return LengthResult::Negative;
    out = 0;
    for (char ch : *v) {
        if (ch < '0' || ch > '9')
            break;
        // A value past 2^62 cannot be a real body: the response is refused.
        if (out > (std::uint64_t{1} << 62) / 10)
            return LengthResult::Bad;
        out = out * 10 + static_cast<std::uint64_t>(ch - '0');
    }
    return LengthResult::Ok;
}

// The state of one response while it is read.
struct Reader {
    explicit Reader(const HttpTimings& t) : sink(t.bodyMemoryLimit), bodyLimit(t.bodyLimit) {}
    std::string head;        // bytes before the end of the header
    std::size_t scanned = 0; // header bytes already searched for the end
    bool headerDone = false;
    bool received = false; // any byte of this response arrived
    std::unique_ptr<HttpMessage> msg;
    HttpBodySink sink;
    std::uint64_t bodyLimit; // more than the call can need: the call fails
    bool lengthKnown = false;
    std::uint64_t length = 0; // Content-Length
    bool chunked = false;
    ChunkTracker chunks;
    bool closeAfter = false;
    bool complete = false;
    bool failed = false; // malformed or not storable: the caller gets an empty message
    std::string surplus; // bytes of the next response
};

// Takes the body bytes of one pass.
void FeedBody(Reader& r, const char* p, std::size_t n) {
    std::size_t take = n;
    if (r.chunked) {
        take = r.chunks.Feed(p, n);
        if (r.chunks.Complete())
            r.complete = true;
        if (r.chunks.GaveUp())
            r.closeAfter = true;
    } else if (r.lengthKnown) {
        std::uint64_t missing = r.length - r.sink.Size();
        if (take > missing)
            take = static_cast<std::size_t>(missing);
        if (take == missing)
            r.complete = true;
    }
    if (take < n)
        r.surplus.append(p + take, n - take);
    // Reading on would only fill the disk: nothing past the bound is stored.
    if (take > r.bodyLimit - r.sink.Size()) {
        r.failed = true;
        r.closeAfter = true;
        return;
    }
    if (!r.sink.Append(p, take)) {
        r.failed = true;
        r.closeAfter = true;
    }
}

// Header phase: returns false when the header is over its limit.
void FeedHeader(Reader& r, const char* p, std::size_t n, std::size_t limit) {
    // Line breaks in front of a response are what remains of the previous chunked body.
    if (r.head.empty())
        while (n > 0 && (*p == '\r' || *p == '\n'))
            ++p, --n;
    if (n == 0)
        return;
    r.received = true;
    r.head.append(p, n);
    for (;;) {
        std::size_t end = 0;
        std::size_t from = r.scanned > 3 ? r.scanned - 3 : 0;
        if (!FindHeaderEnd(r.head, from, end)) {
            r.scanned = r.head.size();
            if (r.head.size() > limit) {
                r.failed = true;
                r.closeAfter = true;
            }
            return;
        }
        if (end > limit) {
            r.failed = true;
            r.closeAfter = true;
            return;
        }
        if (StartsWithNoCase(r.head, "HTTP/1.1 100 Continue")) {
            r.head.erase(0, end);
            r.scanned = 0;
            continue;
        }
        std::string rest = r.head.substr(end);
        r.head.resize(end);
        r.headerDone = true;
        r.msg = std::make_unique<HttpMessage>();
        r.msg->header = std::move(r.head);
        r.head.clear();
        const HttpMessage& m = *r.msg;
        if (m.header.size() > 8 && m.header[7] == '0')
            r.closeAfter = true;
        auto conn = m.GetHeaderValue("Connection:");
        if (!conn)
            conn = m.GetHeaderValue("Proxy-Connection:");
        if (conn) {
            if (conn->size() == 5 && StartsWithNoCase(*conn, "close"))
                r.closeAfter = true;
            else if (StartsWithNoCase(*conn, "Keep-Alive"))
                r.closeAfter = false;
        }
        auto te = m.GetHeaderValue("Transfer-Encoding:");
        r.chunked = te && StartsWithNoCase(*te, "chunked");
        switch (ParseContentLength(m.GetHeaderValue("Content-Length:"), r.length)) {
        case LengthResult::Negative:
            r.closeAfter = true;
            r.complete = true;
            return;
        case LengthResult::Bad:
            r.closeAfter = true;
            r.complete = true;
            r.msg->incomplete = true;
            return;
        case LengthResult::Ok:
            // A chunked encoding decides the end even when a length came too.
            r.lengthKnown = !r.chunked;
            break;
        case LengthResult::None:
            break;
        }
        if (r.lengthKnown && r.length > r.bodyLimit) {
            r.failed = true;
            r.closeAfter = true;
            return;
        }
        if (r.lengthKnown && r.length == 0)
            r.complete = true;
        if (!rest.empty() || r.complete)
            FeedBody(r, rest.data(), rest.size());
        return;
    }
}

} // namespace

std::unique_ptr<HttpMessage> HttpClient::ReadResponse(HttpConnection& c, HttpMessage& request,
                                                      HttpDeadline& deadline) {
    for (;;) {
        std::unique_lock<std::mutex> connLock(c.lock);
        Reader r(m_timings);
        char buf[4096];
        bool dropped = false, ended = false, cancelled = false, silent = false;
        while (!r.complete && !r.failed) {
            std::string pass;
            const char* p = buf;
            std::size_t n = 0;
            if (!c.leftover.empty()) {
                pass.swap(c.leftover);
                p = pass.data();
                n = pass.size();
                c.lastActivity = Now();
            } else {
                // Each wait is bounded, and so is the whole call: a server sending a byte
                // now and then cannot hold it for ever.
                const int waitMs = deadline.Bound(m_timings.readTimeoutMs);
                const std::shared_ptr<net::Link> link = c.link;
                auto w = waitMs <= 0 ? platform::SocketStatus::Timeout
                         : link      ? link->WaitReadable(waitMs)
                                     : platform::SocketStatus::Error;
                c.lastActivity = Now();
                if (w == platform::SocketStatus::Timeout && deadline.Expired()) {
                    r.failed = true;
                    r.closeAfter = true;
                    break;
                }
                if (w == platform::SocketStatus::Timeout ||
                    w == platform::SocketStatus::Cancelled) {
                    cancelled = w == platform::SocketStatus::Cancelled;
                    silent = !r.received;
                    r.closeAfter = true;
                    break;
                }
                ssize_t got = -1;
                if (w == platform::SocketStatus::Ok) {
                    std::size_t cap = sizeof buf;
                    if (r.headerDone && r.lengthKnown && r.length - r.sink.Size() < cap)
                        cap = static_cast<std::size_t>(r.length - r.sink.Size());
                    got = link->Recv(buf, cap);
                    if (got == -2)
                        continue;
                }
                if (got <= 0) {
                    ended = true;
                    dropped = !r.received;
                    r.closeAfter = true;
                    break;
                }
                n = static_cast<std::size_t>(got);
                deadline.Received(n);
            }
            if (!r.headerDone)
                FeedHeader(r, p, n, m_timings.headerLimit);
            else
                FeedBody(r, p, n);
        }

        if (ended) {
            std::lock_guard<std::mutex> lk(m_connectionsLock);
            // Shut down by a queued sender that gave up, not by the server: whatever
            // arrived is dropped and the request goes again like after a server's close.
            if (c.abandoned)
                dropped = true;
        }
        if (dropped) {
            connLock.unlock();
            std::lock_guard<std::mutex> lk(m_connectionsLock);
            if (c.served > 0 || c.abandoned) {
                // A kept-alive connection the server has closed meanwhile: the queued
                // requests go again on a new socket, once per response.
                CloseLink(c);
                if (!Connect(c, c.address, c.port, deadline.Bound(m_timings.connectTimeoutMs))) {
                    ResetConnection(c, &request);
                    return nullptr;
                }
                for (auto& q : c.queue)
                    SendMessage(c, *c.link, *q.request, deadline.Bound(m_timings.readTimeoutMs));
                continue;
            }
            ResetConnection(c, &request);
            return std::make_unique<HttpMessage>();
        }

        std::unique_ptr<HttpMessage> msg;
        if (silent || cancelled || r.failed) {
            // Nothing usable: no answer in time, a stop, a malformed or unstorable response.
            msg = std::make_unique<HttpMessage>();
            msg->incomplete = cancelled || r.failed || (r.headerDone && !r.complete);
        } else if (!r.headerDone) {
            msg = std::make_unique<HttpMessage>();
            msg->SetBody(std::move(r.head));
            msg->incomplete = true;
        } else {
            msg = std::move(r.msg);
            // A body cut short of its announced end is passed on but never as complete.
            if (!r.complete && (r.lengthKnown || r.chunked))
                msg->incomplete = true;
            if (!r.sink.AttachTo(*msg)) {
                msg->SetBody({});
                msg->incomplete = true;
            }
        }
        {
            std::lock_guard<std::mutex> lk(m_connectionsLock);
            if (r.closeAfter) {
                ResetConnection(c, &request);
            } else {
                c.leftover = std::move(r.surplus);
                ++c.served;
                std::erase_if(c.queue, [&](const HttpConnection::Queued& q) {
                    return q.request == &request;
                });
                c.busy = false;
            }
        }
        return msg;
    }
}
