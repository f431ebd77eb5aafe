// A small HTTP/1.1 client over TCP sockets: targets (described destinations), a pool of
// kept-alive connections with per-connection request queues, a maintenance thread that
// closes idle connections, response hooks, cookies and redirects. A secure target speaks
// TLS (net/net_link.h) and is never left for plain HTTP, redirects included.
//
// Every wait goes through the calling thread's cancellable waits, so a worker's stop ends a
// request in progress at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/http_cookies.h"
#include "net/http_message.h"
#include "net/net_link.h"
#include "platform/event.h"

// The times and limits of a client. The defaults are the product's; tests shorten them.
struct HttpTimings {
    int connectTimeoutMs = 10000;
    int readTimeoutMs = 10000; // each wait for bytes of a response
    int ticketPollMs = 100;
    int maintenancePeriodMs = 5000;
    std::int64_t idleLimit = 200000000;  // 20 s in 100-ns units
    std::size_t headerLimit = 65536;     // a longer header is malformed
    std::size_t bodyMemoryLimit = 65536; // larger bodies go to a temporary file
    // What one call may take: a longer body fails the call (an API answer is a few KB).
    std::uint64_t bodyLimit = 8u << 20;
    // The whole call, connects, waits and redirects included; 0: each wait alone is bounded.
    int callDeadlineMs = 30000;
    // Past the deadline a call goes on while its body keeps arriving at this average rate
    // (bytes per second since its start); 0: the deadline is firm.
    std::uint64_t minBytesPerSecond = 0;
};

// The product's limits for a picture or other file saved from a URL.
HttpTimings DownloadTimings();

// When one call must end: `callDeadlineMs` after its start, later while the body keeps
// arriving at `minBytesPerSecond`. Belongs to the calling thread.
class HttpDeadline {
public:
    HttpDeadline() = default; // never ends
    explicit HttpDeadline(const HttpTimings& t);
    // How long a wait of `ms` may last: `ms` cut to the time left; 0 when it is up.
    int Bound(int ms) const;
    bool Expired() const { return Bound(1) == 0; }
    void Received(std::size_t n) { m_received += n; }

private:
    bool m_set = false;
    std::int64_t m_startMs = 0;
    int m_graceMs = 0;
    std::uint64_t m_minRate = 0;
    std::uint64_t m_received = 0;
};

struct HttpTarget {
    std::uint32_t address = 0; // IPv4, network byte order
    std::string hostName;      // at most 255 bytes
    std::uint16_t port = 0;
    bool secure = false; // TLS, verified for hostName
    int minorVersion = 1;
    bool cookiesEnabled = true;
    bool followRedirects = true;
    std::atomic<int> redirectBudget{2}; // targets may be shared by threads
    struct HttpConnection* lastConnection = nullptr;
};

struct HttpConnection {
    struct Queued {
        HttpMessage* request;
        std::uint64_t ticket;
    };
    std::uint32_t address = 0; // 0: the object is free
    std::uint16_t port = 0;
    bool secure = false;             // with the two above, what a connection is reused for
    std::string tlsName;             // the name its TLS peer was verified for
    int sock = -1;                   // the link's descriptor, -1 when closed
    std::shared_ptr<net::Link> link; // senders hold a copy while they write
    bool busy = false;
    std::deque<Queued> queue; // sent and not yet answered, in order
    // Held while a request is queued and sent, so the order on the wire is the queue order
    // without holding the connections lock across a send (taken before it).
    std::mutex sendLock;
    std::uint64_t ticketCounter = 0;
    int served = 0;
    std::atomic<std::int64_t> lastActivity{0}; // set by senders and the reader
    bool abandoned = false;                    // a queued sender gave up and shut the socket down
    std::string leftover;                      // bytes past the previous response
    std::mutex lock;                           // held while one response is read
};

class HttpClient;

// A response hook: called with the event (1 before sending, 2 after receiving), the client,
// the target index, the request and the response. Result bit 1 stops further hooks, bit 2
// vetoes (the request is not sent / the response is dropped).
using HttpHookFn = int (*)(int event, HttpClient& client, int target, HttpMessage* request,
                           HttpMessage* response);
struct HttpHook {
    unsigned mask;
    HttpHookFn fn;
    const char* name;
};

// Decodes a chunked response body in place (registered for events 2 and 8). Always 0.
int DecodeChunkedBody(int event, HttpClient& client, int target, HttpMessage* request,
                      HttpMessage* response);

// The directory of a request path: up to and including the last "/" before the first "&",
// ";" or "?".
std::string PathDirectory(std::string_view path);

class HttpClient {
public:
    static constexpr int kMaxTargets = 4096;
    static constexpr int kMaxConnections = 1024;

    explicit HttpClient(const HttpTimings& timings = HttpTimings());
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The slot index of a new target, or -1 (lookup failed, bad port, slots full). A secure
    // target's connections speak TLS verified for `host`.
    int OpenTarget(const char* host, int port, bool secure);
    bool CloseTarget(int index);
    HttpTarget* Target(int index);

    std::unique_ptr<HttpMessage> BuildRequest(int index, const char* method, const char* path);
    // Sends `request` (owned by the caller, which must keep it alive during the call) and
    // reads its raw response; none when it could not be sent or was vetoed. Without a
    // deadline the call gets one of its own from the timings.
    std::unique_ptr<HttpMessage> DispatchHTTPRequest(int index, HttpMessage& request,
                                                     HttpDeadline* deadline = nullptr);
    // Builds, sends, stores cookies and follows redirects, all within one deadline.
    std::unique_ptr<HttpResponse> SendRequest(int index, const char* method, const char* path,
                                              HttpDeadline* deadline = nullptr);

    HttpCookieJar& CookieJar() { return m_cookies; }
    const char* UserAgent() const { return m_userAgent.c_str(); }
    const HttpTimings& Timings() const { return m_timings; }

    // Test seams: how sockets are opened, and the clock of the idle rule (100-ns units).
    using Connector = std::function<int(std::uint32_t addr, std::uint16_t port, int timeoutMs)>;
    void SetConnector(Connector connector);
    using Clock = std::function<std::int64_t()>;
    void SetClock(Clock clock);
    std::int64_t Now() const;

    // One pass of the maintenance thread: resets idle connections.
    void ReapIdleConnections();
    // Connections with an open socket.
    int OpenConnectionCount();

private:
    struct Acquired {
        HttpConnection* conn = nullptr;
        std::uint64_t ticket = 0;
    };
    Acquired AcquireConnection(HttpTarget& target, HttpMessage& request,
                               const HttpDeadline& deadline);
    // Queues the request on `c` and sends it. Needs `c`'s send lock and the connections
    // lock `lk`, which it releases before sending.
    Acquired QueueAndSend(HttpConnection& c, HttpMessage& request, std::unique_lock<std::mutex>& lk,
                          const HttpDeadline& deadline);
    bool Connect(HttpConnection& c, std::uint32_t addr, std::uint16_t port, int timeoutMs);
    // Sends header and body on `link` (the connection's, or a copy a sender holds).
    void SendMessage(HttpConnection& c, net::Link& link, const HttpMessage& m, int timeoutMs);
    // Closes the connection's link; a sender holding a copy sees its send end.
    static void CloseLink(HttpConnection& c);
    // Removes `drop` (or the head when null) from the queue and closes the socket; requests
    // still queued are sent again on a new socket. Needs the connections lock.
    void ResetConnection(HttpConnection& c, HttpMessage* drop = nullptr);
    bool WaitForTicket(HttpConnection& c, std::uint64_t ticket, HttpMessage& request,
                       const HttpDeadline& deadline);
    std::unique_ptr<HttpMessage> ReadResponse(HttpConnection& c, HttpMessage& request,
                                              HttpDeadline& deadline);
    // Takes a request out of every queue after a failure (its sender is giving up on it).
    void ForgetRequest(HttpMessage& request);
    int RunHooks(int event, int index, HttpMessage* request, HttpMessage* response);
    void MaintenanceLoop();

    HttpTimings m_timings;
    std::mutex m_targetsLock;
    std::vector<std::unique_ptr<HttpTarget>> m_targets; // grows on demand up to kMaxTargets
    std::mutex m_connectionsLock;
    std::vector<std::unique_ptr<HttpConnection>> m_connections; // up to kMaxConnections
    std::string m_userAgent;
    std::vector<HttpHook> m_hooks;
    HttpCookieJar m_cookies;
    Connector m_connector;
    Clock m_clock;
    platform::EventHandle m_stop;
    std::thread m_maintenance;
};
