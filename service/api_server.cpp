#include "service/api_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace qumo_service {

namespace {

// httplib's view of a gated connection: the bytes the gate read first, then the socket (or
// its TLS session), every wait bounded.
class GateStream : public httplib::Stream {
public:
    GateStream(GateConn& c, int readTimeoutMs, int writeTimeoutMs, int localPort)
        : c_(c), readTimeoutMs_(readTimeoutMs), writeTimeoutMs_(writeTimeoutMs),
          localPort_(localPort) {}

    bool is_readable() const override {
        return !c_.buf.empty() || HasBuffered(c_.ssl.get()) || Wait(POLLIN, readTimeoutMs_);
    }
    bool is_writable() const override { return Wait(POLLOUT, writeTimeoutMs_); }
    ssize_t read(char* ptr, size_t size) override {
        if (!c_.buf.empty()) {
            size_t n = std::min(size, c_.buf.size());
            std::memcpy(ptr, c_.buf.data(), n);
            c_.buf.erase(0, n);
            return static_cast<ssize_t>(n);
        }
        return RecvWithin(c_.fd, c_.ssl.get(), ptr, size, readTimeoutMs_);
    }
    ssize_t write(const char* ptr, size_t size) override {
        // A client that reads nothing holds the worker for the write time-out at most.
        return SendAll(c_.fd, c_.ssl.get(), ptr, size, writeTimeoutMs_) ? static_cast<ssize_t>(size)
                                                                        : -1;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = c_.peer;
        port = c_.peerPort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = localPort_;
    }
    socket_t socket() const override { return c_.fd; }

private:
    bool Wait(short what, int ms) const {
        pollfd p{c_.fd, what, 0};
        for (;;) {
            int r = ::poll(&p, 1, ms);
            if (r < 0 && errno == EINTR)
                continue;
            return r > 0;
        }
    }
    GateConn& c_;
    int readTimeoutMs_;
    int writeTimeoutMs_;
    int localPort_;
};

} // namespace

ApiServer::ApiServer(Limits limits) : limits_(std::move(limits)), gate_(limits_.gate) {}

ApiServer::~ApiServer() {
    Stop();
}

void ApiServer::Start() {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
        decoyPeer_ = pair[1];
        svr_sock_ = pair[0];
        set_idle_interval(0, 200000);
        new_task_queue = [] { return new httplib::ThreadPool(1); };
        runner_ = std::thread([this] { listen_after_bind(); });
        for (int i = 0; i < 200 && !is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    workers_ = std::make_unique<WorkQueue>(limits_.workers);
    gate_.Start([this](GateConn&& c) {
        auto shared = std::make_shared<GateConn>(std::move(c));
        workers_->Push([this, shared] { Serve(std::move(*shared)); });
    });
}

void ApiServer::Stop() {
    gate_.Stop();
    if (workers_)
        workers_->Stop();
    workers_.reset();
    if (runner_.joinable()) {
        stop();
        runner_.join();
    }
    if (decoyPeer_ >= 0)
        ::close(decoyPeer_);
    decoyPeer_ = -1;
}

void ApiServer::Serve(GateConn&& c) {
    GateStream strm(c, limits_.readTimeoutMs, limits_.writeTimeoutSec * 1000, gate_.Port());
    bool last = ++c.served >= limits_.maxRequestsPerConn;
    bool closed = false;
    bool ok = process_request(strm, last, closed, nullptr);
    if (ok && !closed && !last)
        gate_.Rearm(std::move(c));
    else
        gate_.Close(c);
}

} // namespace qumo_service
