#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/event.h"
#include "platform/lasterror.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace platform {

bool IsDottedIPv4(const char* host) {
    if (!host)
        return false;
    int groups = 0;
    const char* p = host;
    for (;;) {
        int digits = 0;
        int value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            if (++digits > 3)
                return false;
            ++p;
        }
        if (digits == 0 || value > 255)
            return false;
        ++groups;
        if (*p == '\0')
            return groups == 4;
        if (*p != '.' || groups == 4)
            return false;
        ++p;
    }
}

namespace {

bool SystemResolve(const char* host, std::uint32_t& addr) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res)
        return false;
    bool ok = false;
    for (addrinfo* r = res; r; r = r->ai_next) {
        if (r->ai_family == AF_INET && r->ai_addrlen >= sizeof(sockaddr_in)) {
            addr = reinterpret_cast<const sockaddr_in*>(r->ai_addr)->sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(res);
    return ok;
}

std::atomic<ResolverFn> g_resolver{&SystemResolve};

// One lookup, shared by the caller and the thread that makes it: whichever ends last frees it.
struct Lookup {
    std::string host;
    EventHandle done = EventHandle::Create();
    std::mutex mu;
    bool ok = false;
    std::uint32_t addr = 0;
};

} // namespace

void SetResolverForTesting(ResolverFn fn) {
    g_resolver = fn ? fn : &SystemResolve;
}

bool ResolveIPv4(const char* host, std::uint32_t& addr) {
    if (!host || !*host)
        return false;
    if (IsDottedIPv4(host)) {
        in_addr a{};
        if (inet_pton(AF_INET, host, &a) != 1)
            return false;
        addr = a.s_addr;
        return true;
    }
    auto lookup = std::make_shared<Lookup>();
    lookup->host = host;
    const ResolverFn resolve = g_resolver.load();
    if (!lookup->done.Valid())
        return resolve(host, addr);
    try {
        std::thread([lookup, resolve]() {
            std::uint32_t a = 0;
            const bool ok = resolve(lookup->host.c_str(), a);
            {
                std::lock_guard<std::mutex> g(lookup->mu);
                lookup->ok = ok;
                lookup->addr = a;
            }
            lookup->done.Set();
        }).detach();
    } catch (const std::system_error&) {
        return resolve(host, addr);
    }
    if (WaitFd(lookup->done.Fd(), POLLIN, kResolveTimeoutMs) != WaitResult::Ready)
        return false;
    std::lock_guard<std::mutex> g(lookup->mu);
    if (!lookup->ok)
        return false;
    addr = lookup->addr;
    return true;
}

void PrepareSocket(int fd) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int fdflags = fcntl(fd, F_GETFD, 0);
    if (fdflags >= 0)
        fcntl(fd, F_SETFD, fdflags | FD_CLOEXEC);
    int one = 1;
    // Fails harmlessly on descriptors that are not TCP (socket pairs in tests).
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int SocketConnect(std::uint32_t addr, std::uint16_t port, int timeoutMs, SocketStatus* status) {
    auto fail = [&](SocketStatus s, int fd) {
        if (fd >= 0)
            close(fd);
        if (status)
            *status = s;
        return -1;
    };
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return fail(SocketStatus::Error, -1);
    }
    PrepareSocket(fd);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    int r;
    do {
        r = connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (r < 0 && errno == EINTR);
    if (r < 0 && errno != EINPROGRESS) {
        SetLastErrorFromErrno();
        return fail(SocketStatus::Error, fd);
    }
    if (r < 0) {
        switch (WaitFd(fd, POLLOUT, timeoutMs)) {
        case WaitResult::Ready:
            break;
        case WaitResult::Timeout:
            return fail(SocketStatus::Timeout, fd);
        case WaitResult::Cancelled:
            return fail(SocketStatus::Cancelled, fd);
        case WaitResult::Error:
            return fail(SocketStatus::Error, fd);
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0 || err != 0) {
            errno = err ? err : errno;
            SetLastErrorFromErrno();
            return fail(SocketStatus::Error, fd);
        }
    }
    if (status)
        *status = SocketStatus::Ok;
    return fd;
}

SocketStatus SocketSendAll(int fd, const void* data, std::size_t len, int timeoutMs) {
    if (fd < 0)
        return SocketStatus::Error;
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            len -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            switch (WaitFd(fd, POLLOUT, timeoutMs)) {
            case WaitResult::Ready:
                continue;
            case WaitResult::Timeout:
                return SocketStatus::Timeout;
            case WaitResult::Cancelled:
                return SocketStatus::Cancelled;
            case WaitResult::Error:
                return SocketStatus::Error;
            }
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET))
            return SocketStatus::Closed;
        return SocketStatus::Error;
    }
    return SocketStatus::Ok;
}

SocketStatus SocketWaitReadable(int fd, int timeoutMs) {
    switch (WaitFd(fd, POLLIN, timeoutMs)) {
    case WaitResult::Ready:
        return SocketStatus::Ok;
    case WaitResult::Timeout:
        return SocketStatus::Timeout;
    case WaitResult::Cancelled:
        return SocketStatus::Cancelled;
    case WaitResult::Error:
        break;
    }
    return SocketStatus::Error;
}

ssize_t SocketRecv(int fd, void* buf, std::size_t cap) {
    if (fd < 0)
        return -1;
    for (;;) {
        ssize_t n = recv(fd, buf, cap, 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -2;
        return -1;
    }
}

void SocketClose(int fd) {
    if (fd < 0)
        return;
    shutdown(fd, SHUT_RDWR);
    close(fd);
}

} // namespace platform
