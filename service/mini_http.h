// The small HTTP/1.1 server side the upload listener speaks: request heads, query strings,
// bounded reads with a stop flag, and answers. Bodies are streamed by the caller.
#pragma once

#include "service/tls.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace qumo_service {

constexpr size_t kMaxHeadBytes = 16 * 1024;

struct MiniRequest {
    std::string method, target, path, version;
    std::map<std::string, std::string> query; // first value of each name
    int64_t contentLength = -1;               // -1: none given
    bool chunked = false;
    bool transferEncoding = false; // any Transfer-Encoding: no route takes such a body
    bool keepAlive = true;
    bool expectContinue = false;

    std::string Param(const std::string& name) const {
        auto it = query.find(name);
        return it == query.end() ? std::string() : it->second;
    }
    bool Has(const std::string& name) const { return query.count(name) != 0; }
};

// Percent-decoding; "+" is a space, as in forms. Bad escapes are kept as they are.
std::string UrlDecode(const std::string& s);
void ParseQuery(const std::string& q, std::map<std::string, std::string>& out);
// Parses everything before the blank line; false when it is not a well-formed request head.
// The one parser of both listeners: the gate uses it to size a request's body.
bool ParseRequestHead(const std::string& head, MiniRequest& out);

// One accepted connection, plain or through its TLS session: buffered reads that give up on
// stop or after an idle time-out, writes that give up after a write time-out. `buffered`
// holds bytes already read (by the connection gate).
class MiniConn {
public:
    MiniConn(int fd, ssl_st* ssl, const std::atomic<bool>& stop, int idleMs,
             std::string buffered = {})
        : fd_(fd), ssl_(ssl), stop_(stop), idleMs_(idleMs), buf_(std::move(buffered)) {}
    // Reads a request head; false on EOF, time-out, stop or a head over kMaxHeadBytes.
    bool ReadHead(std::string& head);
    // Reads up to n body bytes (leftover first); 0 on EOF, -1 on error, time-out or stop.
    int64_t ReadSome(char* buf, size_t n);
    bool WriteAll(const std::string& data);
    // Sends a JSON answer with Content-Length; close adds "Connection: close".
    bool SendJson(int code, const std::string& body, bool close);
    // The connection ends with a reset instead of an orderly close (and no TLS goodbye).
    void ResetOnClose();
    bool WillReset() const { return reset_; }
    // Bytes read but not consumed (the start of a next request).
    std::string TakeRest() { return std::move(buf_); }

    static constexpr int kWriteTimeoutMs = 5000; // a client that takes no answer

private:
    int fd_;
    ssl_st* ssl_;
    const std::atomic<bool>& stop_;
    int idleMs_;
    std::string buf_;
    bool reset_ = false;
};

} // namespace qumo_service
