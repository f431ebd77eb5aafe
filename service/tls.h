// TLS for both listeners, and the byte moves every connection makes whether it carries TLS
// or not. Nothing here blocks: the gate drives handshakes from its epoll loop, and workers
// wait between tries with a bounded poll, so a peer that stalls mid-record holds no thread
// longer than the wait it was given.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

namespace qumo_service {

using TlsSession = std::shared_ptr<ssl_st>;

class TlsContext {
public:
    TlsContext() = default;
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // The certificate chain (PEM, leaf first) and its private key; TLS 1.2 or newer.
    bool Load(const std::string& certFile, const std::string& keyFile, std::string& err);
    // A server session on an accepted socket; null when OpenSSL has no memory for one.
    TlsSession Accept(int fd) const;

private:
    ssl_ctx_st* ctx_ = nullptr;
};

// What a step that could not finish waits for.
enum class IoWait { None, Read, Write };
constexpr ssize_t kIoAgain = -2;

// One handshake step: 1 done, 0 again (after `wait`), -1 failed.
int HandshakeStep(ssl_st* ssl, IoWait& wait);
// One read or write without waiting: bytes moved, 0 at the peer's end (reads), -1 on
// failure, kIoAgain with `wait` set when nothing could move yet. A null session is the
// plain socket.
ssize_t RecvNow(int fd, ssl_st* ssl, char* p, size_t n, IoWait& wait);
ssize_t SendNow(int fd, ssl_st* ssl, const char* p, size_t n, IoWait& wait);
// Decrypted bytes (or whole records) the session holds that a poll of the socket cannot see.
bool HasBuffered(ssl_st* ssl);
// Tells the peer the session ends (one try, no wait).
void SayClose(ssl_st* ssl);

// Reads some bytes, waiting at most `ms` for them, in slices that look at `stop` when given:
// bytes read, 0 at the peer's end, -1 on failure, time-out or stop.
ssize_t RecvWithin(int fd, ssl_st* ssl, char* p, size_t n, int ms,
                   const std::atomic<bool>* stop = nullptr);
// Sends every byte, waiting at most `ms` for each bit of progress.
bool SendAll(int fd, ssl_st* ssl, const char* p, size_t n, int ms);

} // namespace qumo_service
