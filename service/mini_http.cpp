#include "service/mini_http.h"

#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

namespace qumo_service {

namespace {

int HexVal(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

const char* Reason(int code) {
    switch (code) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 411:
        return "Length Required";
    case 429:
        return "Too Many Requests";
    case 413:
        return "Payload Too Large";
    default:
        return "Error";
    }
}

} // namespace

std::string UrlDecode(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && HexVal(s[i + 1]) >= 0 &&
                   HexVal(s[i + 2]) >= 0) {
            out += static_cast<char>(HexVal(s[i + 1]) * 16 + HexVal(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

void ParseQuery(const std::string& q, std::map<std::string, std::string>& out) {
    size_t pos = 0;
    while (pos <= q.size()) {
        size_t amp = q.find('&', pos);
        if (amp == std::string::npos)
            amp = q.size();
        std::string pair = q.substr(pos, amp - pos);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            std::string k = UrlDecode(pair.substr(0, eq));
            std::string v =
                eq == std::string::npos ? std::string() : UrlDecode(pair.substr(eq + 1));
            out.emplace(k, v);
        }
        pos = amp + 1;
    }
}

bool ParseRequestHead(const std::string& head, MiniRequest& out) {
    size_t eol = head.find("\r\n");
    std::string line = head.substr(0, eol);
    size_t s1 = line.find(' ');
    size_t s2 = s1 == std::string::npos ? s1 : line.find(' ', s1 + 1);
    if (s1 == std::string::npos || s2 == std::string::npos || s1 == 0 || s2 == s1 + 1)
        return false;
    out.method = line.substr(0, s1);
    out.target = line.substr(s1 + 1, s2 - s1 - 1);
    out.version = line.substr(s2 + 1);
    if (out.version != "HTTP/1.1" && out.version != "HTTP/1.0")
        return false;
    if (out.target.empty() || out.target[0] != '/')
        return false;
    size_t qm = out.target.find('?');
    out.path = out.target.substr(0, qm);
    if (qm != std::string::npos)
        ParseQuery(out.target.substr(qm + 1), out.query);
    out.keepAlive = out.version == "HTTP/1.1";
    size_t pos = eol == std::string::npos ? head.size() : eol + 2;
    while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos)
            e = head.size();
        std::string h = head.substr(pos, e - pos);
        pos = e + 2;
        size_t colon = h.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        std::string name = Lower(Trim(h.substr(0, colon)));
        std::string value = Trim(h.substr(colon + 1));
        if (name == "content-length") {
            if (value.empty() || value.size() > 18 || out.contentLength >= 0)
                return false;
            for (char c : value)
                if (c < '0' || c > '9')
                    return false;
            out.contentLength = std::strtoll(value.c_str(), nullptr, 10);
        } else if (name == "transfer-encoding") {
            out.chunked = Lower(value).find("chunked") != std::string::npos;
            out.transferEncoding = true;
        } else if (name == "connection") {
            std::string v = Lower(value);
            if (v == "close")
                out.keepAlive = false;
            else if (v == "keep-alive")
                out.keepAlive = true;
        } else if (name == "expect") {
            out.expectContinue = Lower(value) == "100-continue";
        }
    }
    return true;
}

bool MiniConn::ReadHead(std::string& head) {
    for (;;) {
        size_t end = buf_.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = buf_.substr(0, end);
            buf_.erase(0, end + 4);
            return true;
        }
        if (buf_.size() > kMaxHeadBytes)
            return false;
        char tmp[4096];
        ssize_t n = RecvWithin(fd_, ssl_, tmp, sizeof tmp, idleMs_, &stop_);
        if (n <= 0)
            return false;
        buf_.append(tmp, static_cast<size_t>(n));
    }
}

int64_t MiniConn::ReadSome(char* buf, size_t n) {
    if (!buf_.empty()) {
        size_t k = std::min(n, buf_.size());
        std::memcpy(buf, buf_.data(), k);
        buf_.erase(0, k);
        return static_cast<int64_t>(k);
    }
    return RecvWithin(fd_, ssl_, buf, n, idleMs_, &stop_);
}

bool MiniConn::WriteAll(const std::string& data) {
    return SendAll(fd_, ssl_, data.data(), data.size(), kWriteTimeoutMs);
}

void MiniConn::ResetOnClose() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    reset_ = true;
}

bool MiniConn::SendJson(int code, const std::string& body, bool close) {
    std::string head = "HTTP/1.1 " + std::to_string(code) + " " + Reason(code) + "\r\n" +
                       "Content-Type: application/json; charset=utf-8\r\n" +
                       "Content-Length: " + std::to_string(body.size()) + "\r\n" +
                       (close ? "Connection: close\r\n" : "Connection: keep-alive\r\n") + "\r\n";
    return WriteAll(head + body);
}

} // namespace qumo_service
