// The front of both listeners: one thread waits on every connection with epoll until a whole
// request head (and, when asked, its small body) has arrived, so slow or idle clients cost a
// few bytes of memory instead of a worker thread. It bounds what a stranger can hold: the
// connections of one address and of the listener, the head's size, the time from the first
// byte to the last byte of the head, the idle time of a kept-alive connection. On a TLS
// listener it also runs each handshake, step by step as bytes arrive, within the head time:
// a stalled handshake costs no thread either.
#pragma once

#include "service/tls.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qumo_service {

struct GateLimits {
    int maxConnections = 4096; // the whole listener
    int maxPerAddress = 64;
    int idleMs = 15000; // waiting for the first byte of a request
    int headMs = 10000; // from the first byte to the end of the head (and of the body)
    size_t maxHeadBytes = 16 * 1024;
    // Bytes of body the gate reads before handing the request on; -1 refuses a body of that
    // length with 413. Null: the body is left to the worker.
    std::function<int64_t(const std::string& method, const std::string& path)> bodyLimit;
    // Set: the listener speaks TLS only (the context outlives the gate).
    const TlsContext* tls = nullptr;
};

// A connection with a request ready: its head complete in `buf` (and its body when the
// gate reads bodies), perhaps followed by bytes of the next request.
struct GateConn {
    int fd = -1;
    std::string peer; // dotted IPv4 address
    int peerPort = 0;
    std::string buf;
    int served = 0;     // requests answered on this connection so far
    TlsSession ssl;     // null on a plain listener; every byte goes through it otherwise
    bool reset = false; // closed with a reset (a test's dropped upload): no TLS goodbye
};

struct GateCounters {
    std::atomic<int64_t> refusedBusy{0}, headTimeouts{0}, headTooLarge{0}, tlsFailures{0};
};

class ConnGate {
public:
    using Ready = std::function<void(GateConn&&)>;

    explicit ConnGate(GateLimits limits) : limits_(std::move(limits)) {}
    ~ConnGate();
    ConnGate(const ConnGate&) = delete;
    ConnGate& operator=(const ConnGate&) = delete;

    bool Bind(int port, std::string& err); // 127.0.0.1 only; port 0 picks one
    int Port() const { return port_; }
    // Starts the gate's thread; `ready` runs on it and must only hand the connection on.
    void Start(Ready ready);
    // Closes the listener and every waiting connection; connections handed out stay counted
    // until Close.
    void Stop();

    // A connection handed out comes back to wait for its next request (any thread).
    void Rearm(GateConn&& c);
    // A connection handed out is done with.
    void Close(GateConn& c);
    const GateCounters& Counters() const { return counters_; }
    int Open() const { return open_.load(); }

private:
    struct Waiting {
        GateConn conn;
        int64_t deadlineMs = 0;
        bool started = false; // the first byte of the request has arrived
        bool sentContinue = false;
        bool handshaking = false; // TLS: the handshake is not done yet
        bool sniffed = false;     // TLS: the first byte was looked at
    };
    void Loop();
    void Accept(int64_t now);
    void Watch(GateConn&& c, int64_t now);
    void OnReadable(int fd, int64_t now);
    // Runs the TLS handshake on; false when the connection must wait or was dropped.
    bool Handshake(Waiting& w, int64_t now);
    void Interest(int fd, IoWait wait);
    // Hands the connection on when its request is complete; false when it must wait on.
    bool TryHandOff(Waiting& w);
    void Drop(int fd, const char* answer);
    void Uncount(const std::string& peer);

    GateLimits limits_;
    Ready ready_;
    int listenFd_ = -1, epollFd_ = -1, wakeFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::unordered_map<int, Waiting> waiting_;

    std::mutex mu_; // guards the counts and the inbox
    std::unordered_map<std::string, int> perAddress_;
    std::vector<GateConn> inbox_;
    std::atomic<int> open_{0};
    GateCounters counters_;
};

} // namespace qumo_service
