#include "tests/0support/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

int Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool SendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Reads until the predicate on the buffer holds, EOF, or the time-out; false on time-out.
class Reader {
public:
    Reader(int fd, int timeoutMs) : fd_(fd), timeoutMs_(timeoutMs) {}
    bool Fill() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs_) <= 0)
            return false;
        char tmp[65536];
        ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
        if (n <= 0) {
            eof = true;
            return false;
        }
        buf.append(tmp, static_cast<size_t>(n));
        return true;
    }
    std::string buf;
    bool eof = false;

private:
    int fd_;
    int timeoutMs_;
};

bool ReadAnswer(int fd, RawResponse& out, int timeoutMs) {
    Reader r(fd, timeoutMs);
    size_t end;
    while ((end = r.buf.find("\r\n\r\n")) == std::string::npos) {
        if (!r.Fill())
            return false;
    }
    out.head = r.buf.substr(0, end);
    std::string rest = r.buf.substr(end + 4);
    r.buf = rest;
    if (out.head.size() < 12 || out.head.compare(0, 5, "HTTP/") != 0)
        return false;
    out.status = std::atoi(out.head.c_str() + 9);
    out.chunked = Lower(out.Header("Transfer-Encoding")).find("chunked") != std::string::npos;
    std::string len = out.Header("Content-Length");
    if (out.chunked) {
        size_t pos = 0;
        for (;;) {
            size_t eol;
            while ((eol = r.buf.find("\r\n", pos)) == std::string::npos)
                if (!r.Fill())
                    return false;
            size_t size = std::strtoul(r.buf.c_str() + pos, nullptr, 16);
            while (r.buf.size() < eol + 2 + size + 2)
                if (!r.Fill())
                    return false;
            out.body.append(r.buf, eol + 2, size);
            pos = eol + 2 + size + 2;
            if (size == 0)
                break;
        }
    } else if (!len.empty()) {
        size_t n = std::strtoul(len.c_str(), nullptr, 10);
        while (r.buf.size() < n)
            if (!r.Fill())
                return false;
        out.body = r.buf.substr(0, n);
    } else {
        while (r.Fill()) {
        }
        out.body = r.buf;
    }
    // A closed connection shows as EOF soon after the answer.
    std::string conn = Lower(out.Header("Connection"));
    if (conn == "close") {
        pollfd p{fd, POLLIN, 0};
        char c;
        out.closed = ::poll(&p, 1, 2000) > 0 && ::recv(fd, &c, 1, MSG_PEEK) == 0;
    }
    return true;
}

} // namespace

std::string RawResponse::Header(const std::string& name) const {
    std::string want = Lower(name) + ":";
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos < head.size()) {
        size_t start = pos + 2;
        size_t e = head.find("\r\n", start);
        std::string line =
            head.substr(start, e == std::string::npos ? std::string::npos : e - start);
        if (Lower(line.substr(0, want.size())) == want) {
            std::string v = line.substr(want.size());
            size_t b = v.find_first_not_of(' ');
            return b == std::string::npos ? std::string() : v.substr(b);
        }
        pos = e;
    }
    return std::string();
}

bool RawExchange(int port, const std::string& request, RawResponse& out, int timeoutMs) {
    out = RawResponse();
    int fd = Connect(port);
    if (fd < 0)
        return false;
    bool ok = SendAll(fd, request.data(), request.size()) && ReadAnswer(fd, out, timeoutMs);
    ::close(fd);
    return ok;
}

bool RawGet(int port, const std::string& target, RawResponse& out) {
    return RawExchange(port,
                       "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nConnection: close\r\n\r\n",
                       out);
}

bool RawPost(int port, const std::string& target, const std::string& body, RawResponse& out) {
    std::string req = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n" +
                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return RawExchange(port, req, out);
}

bool RawPostPartial(int port, const std::string& target, const std::string& body, size_t send) {
    int fd = Connect(port);
    if (fd < 0)
        return false;
    std::string head = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n" +
                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    bool ok = SendAll(fd, head.data(), head.size()) &&
              SendAll(fd, body.data(), std::min(send, body.size()));
    ::close(fd);
    return ok;
}

int RawOpenPost(int port, const std::string& target, size_t declared, const std::string& prefix) {
    int fd = Connect(port);
    if (fd < 0)
        return -1;
    std::string head = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n" +
                       "Content-Length: " + std::to_string(declared) + "\r\n\r\n";
    if (!SendAll(fd, head.data(), head.size()) || !SendAll(fd, prefix.data(), prefix.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ParseJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errs;
    return r->parse(text.data(), text.data() + text.size(), &out, &errs);
}

bool GetJson(int port, const std::string& target, Json::Value& out) {
    RawResponse r;
    return RawGet(port, target, r) && r.status == 200 && ParseJson(r.body, out);
}
