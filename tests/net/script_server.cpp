#include "script_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

std::string Reply(int status, const std::string& body, const std::string& extra) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

ScriptServer::ScriptServer() {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    listen(m_listen, 64);
    socklen_t len = sizeof sa;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&sa), &len);
    m_port = ntohs(sa.sin_port);
    if (pipe(m_wake) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_thread = std::thread([this] { AcceptLoop(); });
}

ScriptServer::~ScriptServer() {
    if (write(m_wake[1], "x", 1) != 1) {
    }
    m_thread.join();
    for (auto& t : m_workers)
        t.join();
    close(m_listen);
    close(m_wake[0]);
    close(m_wake[1]);
}

std::string ScriptServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void ScriptServer::Add(Script s) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_scripts.push_back(std::move(s));
}

std::vector<std::string> ScriptServer::Requests() {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_requests;
}

void ScriptServer::Record(const std::string& request) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_requests.push_back(request);
    m_cv.notify_all();
}

bool ScriptServer::WaitRequests(std::size_t n, int ms) {
    std::unique_lock<std::mutex> lk(m_mu);
    return m_cv.wait_for(lk, std::chrono::milliseconds(ms), [&] { return m_requests.size() >= n; });
}

void ScriptServer::AcceptLoop() {
    for (;;) {
        pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0)
            continue;
        if (p[1].revents)
            return;
        int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_accepted;
        Script s;
        {
            std::lock_guard<std::mutex> lk(m_mu);
            if (!m_scripts.empty()) {
                s = std::move(m_scripts.front());
                m_scripts.pop_front();
            }
        }
        m_workers.emplace_back([this, fd, s] {
            ScriptConn c(fd, *this);
            if (s)
                s(c);
            c.Close();
        });
    }
}

std::string ScriptConn::ReadRequest(std::size_t bodyLen) {
    std::string buf = std::move(m_pending);
    m_pending.clear();
    for (;;) {
        std::size_t end = buf.find("\r\n\r\n");
        if (end != std::string::npos && buf.size() >= end + 4 + bodyLen) {
            std::string req = buf.substr(0, end + 4 + bodyLen);
            m_pending = buf.substr(end + 4 + bodyLen);
            m_server.Record(req);
            return req;
        }
        char tmp[4096];
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            return {};
        ssize_t n = recv(m_fd, tmp, sizeof tmp, 0);
        if (n <= 0)
            return {};
        buf.append(tmp, static_cast<std::size_t>(n));
    }
}

std::size_t ScriptConn::Send(const std::string& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        off += static_cast<std::size_t>(n);
    }
    return off;
}

std::size_t ScriptConn::Unread() const {
    int n = 0;
    return ioctl(m_fd, FIONREAD, &n) == 0 && n > 0 ? static_cast<std::size_t>(n) : 0;
}

void ScriptConn::SendSplit(const std::vector<std::string>& pieces, int pauseMs) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        Send(pieces[i]);
    }
}

bool ScriptConn::WaitClosed(int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0)
            return false;
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0)
            return false;
        char tmp[256];
        ssize_t n = recv(m_fd, tmp, sizeof tmp, 0);
        if (n <= 0)
            return true;
    }
}

void ScriptConn::Close() {
    if (m_fd >= 0) {
        shutdown(m_fd, SHUT_RDWR);
        close(m_fd);
    }
    m_fd = -1;
}
