#include "service/conn_gate.h"

#include "service/mini_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace qumo_service {

namespace {

constexpr int kTickMs = 100;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SetNonBlocking(int fd) {
    int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

const char kTooMany[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                        "Connection: close\r\n\r\n";
const char kTimeout[] = "HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\n"
                        "Connection: close\r\n\r\n";
const char kHeadTooLarge[] = "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                             "Content-Length: 0\r\nConnection: close\r\n\r\n";
const char kBodyTooLarge[] = "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n"
                             "Connection: close\r\n\r\n";
// Plain HTTP sent to a TLS listener gets a plain answer the sender can read, then the end.
const char kPlainOnTls[] = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\n"
                           "Content-Length: 31\r\nConnection: close\r\n\r\n"
                           "This port speaks TLS (https).\r\n";
// The first byte of every TLS connection: a handshake record.
constexpr unsigned char kTlsHandshakeRecord = 0x16;
const char kBadRequest[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                           "Connection: close\r\n\r\n";

} // namespace

ConnGate::~ConnGate() {
    Stop();
}

bool ConnGate::Bind(int port, std::string& err) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) {
        err = "socket: " + std::string(std::strerror(errno));
        return false;
    }
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 1024) != 0) {
        err = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epollFd_ < 0 || wakeFd_ < 0) {
        err = "epoll: " + std::string(std::strerror(errno));
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listenFd_;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev);
    ev.data.fd = wakeFd_;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
    return true;
}

void ConnGate::Start(Ready ready) {
    ready_ = std::move(ready);
    thread_ = std::thread([this] { Loop(); });
}

void ConnGate::Stop() {
    stop_ = true;
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    for (auto& [fd, w] : waiting_) {
        ::close(fd);
        Uncount(w.conn.peer);
    }
    waiting_.clear();
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (GateConn& c : inbox_) {
            ::close(c.fd);
            c.fd = -1;
        }
    }
    for (int* fd : {&listenFd_, &epollFd_, &wakeFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void ConnGate::Rearm(GateConn&& c) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stop_) {
            ::close(c.fd);
            return;
        }
        inbox_.push_back(std::move(c));
    }
    uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void ConnGate::Close(GateConn& c) {
    if (c.ssl && !c.reset)
        SayClose(c.ssl.get());
    c.ssl.reset();
    if (c.fd >= 0)
        ::close(c.fd);
    c.fd = -1;
    Uncount(c.peer);
}

void ConnGate::Uncount(const std::string& peer) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = perAddress_.find(peer);
    if (it != perAddress_.end() && --it->second <= 0)
        perAddress_.erase(it);
    open_--;
}

void ConnGate::Drop(int fd, const char* answer) {
    auto it = waiting_.find(fd);
    if (answer && (it == waiting_.end() || it->second.started)) {
        // One try without waiting: on a TLS connection through the session, if it has one.
        ssl_st* ssl = it == waiting_.end() ? nullptr : it->second.conn.ssl.get();
        IoWait wait;
        if (!ssl || !it->second.handshaking)
            (void)SendNow(fd, ssl, answer, std::strlen(answer), wait);
    }
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    if (it != waiting_.end()) {
        Uncount(it->second.conn.peer);
        waiting_.erase(it);
    }
}

void ConnGate::Loop() {
    std::vector<epoll_event> events(256);
    int64_t lastSweep = NowMs();
    while (!stop_.load()) {
        int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), kTickMs);
        int64_t now = NowMs();
        for (int i = 0; i < n; ++i) {
            int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == listenFd_) {
                Accept(now);
            } else if (fd == wakeFd_) {
                uint64_t v;
                (void)!::read(wakeFd_, &v, sizeof v);
                std::vector<GateConn> back;
                {
                    std::lock_guard<std::mutex> lock(mu_);
                    back.swap(inbox_);
                }
                for (GateConn& c : back)
                    Watch(std::move(c), now);
            } else {
                OnReadable(fd, now);
            }
        }
        if (now - lastSweep >= kTickMs) {
            lastSweep = now;
            std::vector<int> late;
            for (const auto& [fd, w] : waiting_)
                if (now >= w.deadlineMs)
                    late.push_back(fd);
            for (int fd : late) {
                if (waiting_[fd].started || waiting_[fd].handshaking)
                    counters_.headTimeouts++;
                Drop(fd, kTimeout);
            }
        }
    }
}

void ConnGate::Accept(int64_t now) {
    for (;;) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&a), &len,
                           SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return; // EAGAIN, or out of descriptors: the next round tries again
        char ip[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
        bool admit = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            int& mine = perAddress_[ip];
            if (open_.load() < limits_.maxConnections && mine < limits_.maxPerAddress) {
                ++mine;
                open_++;
                admit = true;
            } else if (mine == 0) {
                perAddress_.erase(ip);
            }
        }
        if (!admit) {
            counters_.refusedBusy++;
            (void)!::send(fd, kTooMany, sizeof kTooMany - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            ::close(fd);
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        GateConn c;
        c.fd = fd;
        c.peer = ip;
        c.peerPort = ntohs(a.sin_port);
        if (limits_.tls && !(c.ssl = limits_.tls->Accept(fd))) {
            ::close(fd);
            Uncount(ip);
            continue;
        }
        Watch(std::move(c), now);
    }
}

void ConnGate::Watch(GateConn&& c, int64_t now) {
    int fd = c.fd;
    SetNonBlocking(fd);
    Waiting& w = waiting_[fd];
    w = Waiting{};
    w.conn = std::move(c);
    w.started = !w.conn.buf.empty();
    // A new TLS connection has the head time for its handshake.
    w.handshaking = w.conn.ssl && w.conn.served == 0;
    w.deadlineMs = now + (w.started || w.handshaking ? limits_.headMs : limits_.idleMs);
    if (TryHandOff(w))
        return;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.fd = fd;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
    // Records the session already took off the socket never make it readable again.
    if (HasBuffered(w.conn.ssl.get()))
        OnReadable(fd, now);
}

void ConnGate::Interest(int fd, IoWait wait) {
    epoll_event ev{};
    ev.events = (wait == IoWait::Write ? EPOLLOUT : EPOLLIN) | EPOLLRDHUP;
    ev.data.fd = fd;
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev);
}

bool ConnGate::Handshake(Waiting& w, int64_t now) {
    int fd = w.conn.fd;
    if (!w.sniffed) {
        unsigned char first = 0;
        ssize_t r = ::recv(fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return false;
        if (r <= 0) {
            Drop(fd, nullptr);
            return false;
        }
        w.sniffed = true;
        if (first != kTlsHandshakeRecord) {
            counters_.tlsFailures++;
            // What the client sent is read first, so closing sends an end rather than a reset
            // that could destroy the answer before the client reads it.
            char sink[4096];
            for (size_t taken = 0; taken < limits_.maxHeadBytes;) {
                ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
                if (n <= 0)
                    break;
                taken += static_cast<size_t>(n);
            }
            (void)!::send(fd, kPlainOnTls, sizeof kPlainOnTls - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            Drop(fd, nullptr);
            return false;
        }
    }
    IoWait wait = IoWait::None;
    int r = HandshakeStep(w.conn.ssl.get(), wait);
    if (r < 0) {
        counters_.tlsFailures++;
        Drop(fd, nullptr);
        return false;
    }
    if (r == 0) {
        Interest(fd, wait);
        return false;
    }
    w.handshaking = false;
    w.deadlineMs = now + limits_.idleMs;
    Interest(fd, IoWait::Read);
    return true;
}

void ConnGate::OnReadable(int fd, int64_t now) {
    auto it = waiting_.find(fd);
    if (it == waiting_.end())
        return;
    Waiting& w = it->second;
    if (w.handshaking && !Handshake(w, now))
        return;
    char tmp[16 * 1024];
    for (;;) {
        IoWait wait;
        ssize_t r = RecvNow(fd, w.conn.ssl.get(), tmp, sizeof tmp, wait);
        if (r == kIoAgain) {
            if (w.conn.ssl)
                Interest(fd, wait); // a TLS read may have to write first
            return;
        }
        if (r <= 0) {
            Drop(fd, nullptr);
            return;
        }
        if (!w.started) {
            w.started = true;
            w.deadlineMs = now + limits_.headMs;
        }
        w.conn.buf.append(tmp, static_cast<size_t>(r));
        // Handed on (or refused) as soon as the request is complete: what follows, even the
        // client's end of the connection, is the worker's to read.
        if (TryHandOff(w))
            return;
    }
}

bool ConnGate::TryHandOff(Waiting& w) {
    int fd = w.conn.fd;
    size_t end = w.conn.buf.find("\r\n\r\n");
    if (end == std::string::npos || end + 4 > limits_.maxHeadBytes) {
        if (w.conn.buf.size() > limits_.maxHeadBytes) {
            counters_.headTooLarge++;
            Drop(fd, kHeadTooLarge);
            return true;
        }
        return false;
    }
    if (limits_.bodyLimit) {
        MiniRequest h;
        if (!ParseRequestHead(w.conn.buf.substr(0, end), h) || h.transferEncoding) {
            Drop(fd, kBadRequest);
            return true;
        }
        int64_t limit = limits_.bodyLimit(h.method, h.path);
        int64_t body = std::max<int64_t>(0, h.contentLength);
        if (body > limit) {
            Drop(fd, kBodyTooLarge);
            return true;
        }
        if (static_cast<int64_t>(w.conn.buf.size() - end - 4) < body) {
            if (h.expectContinue && !w.sentContinue) {
                w.sentContinue = true;
                static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
                IoWait wait;
                (void)SendNow(fd, w.conn.ssl.get(), kContinue, sizeof kContinue - 1, wait);
            }
            return false;
        }
    }
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    GateConn c = std::move(w.conn);
    waiting_.erase(fd);
    // The socket stays non-blocking: every worker's read and write waits with a bound.
    ready_(std::move(c));
    return true;
}

} // namespace qumo_service
