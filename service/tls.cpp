#include "service/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace qumo_service {

namespace {

std::string OpenSslError() {
    unsigned long e = ERR_get_error();
    char buf[256] = {};
    if (e)
        ERR_error_string_n(e, buf, sizeof buf);
    ERR_clear_error();
    return e ? buf : "unknown reason";
}

// Maps an OpenSSL result to kIoAgain (with wait), 0 (orderly end) or -1.
ssize_t Classify(ssl_st* ssl, int r, IoWait& wait) {
    int e = SSL_get_error(ssl, r);
    ERR_clear_error();
    if (e == SSL_ERROR_WANT_READ) {
        wait = IoWait::Read;
        return kIoAgain;
    }
    if (e == SSL_ERROR_WANT_WRITE) {
        wait = IoWait::Write;
        return kIoAgain;
    }
    return e == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

// One plain socket call without waiting: EAGAIN becomes kIoAgain, waiting for `onAgain`.
template <typename Call> ssize_t PlainNow(Call call, IoWait onAgain, IoWait& wait) {
    for (;;) {
        ssize_t r = call();
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait = onAgain;
            return kIoAgain;
        }
        return r < 0 ? -1 : r;
    }
}

bool WaitFor(int fd, IoWait wait, int ms) {
    pollfd p{fd, static_cast<short>(wait == IoWait::Write ? POLLOUT : POLLIN), 0};
    for (;;) {
        int r = ::poll(&p, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

} // namespace

TlsContext::~TlsContext() {
    SSL_CTX_free(ctx_);
}

bool TlsContext::Load(const std::string& certFile, const std::string& keyFile, std::string& err) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        err = "TLS: " + OpenSslError();
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Writes may end part way and be retried from a moved buffer: the senders loop.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Records are read from the socket in large gulps rather than header and body apart.
    SSL_CTX_set_read_ahead(ctx, 1);
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
        err = "TLS certificate " + certFile + ": " + OpenSslError();
    } else if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        err = "TLS key " + keyFile + ": " + OpenSslError();
    } else if (SSL_CTX_check_private_key(ctx) != 1) {
        err = "TLS key " + keyFile + " does not belong to " + certFile;
    } else {
        SSL_CTX_free(ctx_);
        ctx_ = ctx;
        return true;
    }
    SSL_CTX_free(ctx);
    return false;
}

TlsSession TlsContext::Accept(int fd) const {
    SSL* ssl = ctx_ ? SSL_new(ctx_) : nullptr;
    if (!ssl)
        return nullptr;
    // The socket BIO does not own the descriptor: the gate closes it.
    if (SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        return nullptr;
    }
    SSL_set_accept_state(ssl);
    return TlsSession(ssl, SSL_free);
}

int HandshakeStep(ssl_st* ssl, IoWait& wait) {
    int r = SSL_do_handshake(ssl);
    if (r == 1)
        return 1;
    return Classify(ssl, r, wait) == kIoAgain ? 0 : -1;
}

ssize_t RecvNow(int fd, ssl_st* ssl, char* p, size_t n, IoWait& wait) {
    wait = IoWait::None;
    if (!ssl)
        return PlainNow([&] { return ::recv(fd, p, n, MSG_DONTWAIT); }, IoWait::Read, wait);
    size_t got = 0;
    int r = SSL_read_ex(ssl, p, n, &got);
    return r == 1 ? static_cast<ssize_t>(got) : Classify(ssl, r, wait);
}

ssize_t SendNow(int fd, ssl_st* ssl, const char* p, size_t n, IoWait& wait) {
    wait = IoWait::None;
    if (!ssl)
        return PlainNow([&] { return ::send(fd, p, n, MSG_DONTWAIT | MSG_NOSIGNAL); },
                        IoWait::Write, wait);
    size_t put = 0;
    int r = SSL_write_ex(ssl, p, n, &put);
    if (r == 1)
        return static_cast<ssize_t>(put);
    ssize_t c = Classify(ssl, r, wait);
    return c == 0 ? -1 : c;
}

bool HasBuffered(ssl_st* ssl) {
    return ssl && SSL_has_pending(ssl) == 1;
}

void SayClose(ssl_st* ssl) {
    if (ssl && SSL_is_init_finished(ssl))
        SSL_shutdown(ssl);
    ERR_clear_error();
}

ssize_t RecvWithin(int fd, ssl_st* ssl, char* p, size_t n, int ms, const std::atomic<bool>* stop) {
    constexpr int kSliceMs = 200;
    // A deadline rather than a sum of waits: a peer dribbling a record byte by byte makes
    // the socket readable again and again without giving a whole record.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        IoWait wait;
        ssize_t r = RecvNow(fd, ssl, p, n, wait);
        if (r != kIoAgain)
            return r;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
            if ((stop && stop->load()) || left <= 0)
                return -1;
            if (WaitFor(fd, wait, static_cast<int>(std::min<int64_t>(left, kSliceMs))))
                break;
        }
    }
}

bool SendAll(int fd, ssl_st* ssl, const char* p, size_t n, int ms) {
    while (n > 0) {
        IoWait wait;
        ssize_t r = SendNow(fd, ssl, p, n, wait);
        if (r == kIoAgain) {
            if (!WaitFor(fd, wait, ms))
                return false;
            continue;
        }
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

} // namespace qumo_service
