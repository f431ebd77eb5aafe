#include "net/net_link.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/log.h"
#include "platform/codepage.h"
#include "platform/event.h"

namespace net {
namespace {

thread_local TlsFailure t_failure = TlsFailure::None;

// A socket BIO that sends with MSG_NOSIGNAL: a peer gone mid-write must not raise SIGPIPE.
int BioWrite(BIO* b, const char* data, int len) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
    BIO_clear_retry_flags(b);
    ssize_t n;
    do {
        n = ::send(fd, data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(b);
    return static_cast<int>(n);
}

int BioRead(BIO* b, char* data, int len) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(b)));
    BIO_clear_retry_flags(b);
    ssize_t n;
    do {
        n = ::recv(fd, data, static_cast<std::size_t>(len), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(b);
    return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*) {
    return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* m = [] {
        BIO_METHOD* meth = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qumo socket");
        if (meth) {
            BIO_meth_set_write(meth, BioWrite);
            BIO_meth_set_read(meth, BioRead);
            BIO_meth_set_ctrl(meth, BioCtrl);
        }
        return meth;
    }();
    return m;
}

struct Config {
    std::mutex lock;
    std::string caFile;
    SSL_CTX* ctx = nullptr; // made for caFile; rebuilt when it changes
    std::vector<std::string> secure, plain;
    bool secureByDefault = false;
};

Config& Cfg() {
    static Config c;
    return c;
}

std::string OpenSslError() {
    unsigned long e = ERR_get_error();
    char buf[256] = "unknown error";
    if (e)
        ERR_error_string_n(e, buf, sizeof buf);
    ERR_clear_error();
    return buf;
}

// The context of every TLS connection; none when the extra CA file cannot be loaded (the
// connection then fails rather than trusting less or more than configured).
SSL_CTX* Context(std::string& why) {
    Config& c = Cfg();
    std::lock_guard<std::mutex> g(c.lock);
    if (c.ctx) {
        SSL_CTX_up_ref(c.ctx);
        return c.ctx;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        why = OpenSslError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_clear_mode(ctx, SSL_MODE_AUTO_RETRY);
    SSL_CTX_set_default_verify_paths(ctx);
    if (!c.caFile.empty() && SSL_CTX_load_verify_locations(ctx, c.caFile.c_str(), nullptr) != 1) {
        why = "cannot load the CA file " + c.caFile + ": " + OpenSslError();
        SSL_CTX_free(ctx);
        return nullptr;
    }
    c.ctx = ctx;
    SSL_CTX_up_ref(ctx);
    return ctx;
}

void Fail(TlsFailure kind, const std::string& name, const std::string& why) {
    t_failure = kind;
    LogError(u"TLS connection to %s failed: %s", platform::FromNarrow(name).c_str(),
             platform::FromNarrow(why).c_str());
}

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

platform::SocketStatus Status(platform::WaitResult w) {
    switch (w) {
    case platform::WaitResult::Ready:
        return platform::SocketStatus::Ok;
    case platform::WaitResult::Timeout:
        return platform::SocketStatus::Timeout;
    case platform::WaitResult::Cancelled:
        return platform::SocketStatus::Cancelled;
    case platform::WaitResult::Error:
        break;
    }
    return platform::SocketStatus::Error;
}

} // namespace

Link::Link(int fd) : m_fd(fd) {}

Link::~Link() {
    if (m_ssl)
        SSL_free(m_ssl);
    platform::SocketClose(m_fd);
}

std::shared_ptr<Link> Link::Open(int fd, const std::string& tlsName, int timeoutMs) {
    if (fd < 0)
        return nullptr;
    auto link = std::make_shared<Link>(fd);
    if (tlsName.empty())
        return link;
    std::string why;
    SSL_CTX* ctx = Context(why);
    if (!ctx) {
        Fail(TlsFailure::Handshake, tlsName, why);
        return nullptr;
    }
    SSL* ssl = SSL_new(ctx);
    SSL_CTX_free(ctx); // the connection holds its own reference
    BIO* bio = ssl && SocketMethod() ? BIO_new(SocketMethod()) : nullptr;
    if (!bio) {
        if (ssl)
            SSL_free(ssl);
        Fail(TlsFailure::Handshake, tlsName, OpenSslError());
        return nullptr;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    link->m_ssl = ssl;
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    bool named;
    if (platform::IsDottedIPv4(tlsName.c_str())) {
        named = X509_VERIFY_PARAM_set1_ip_asc(param, tlsName.c_str()) == 1;
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = SSL_set_tlsext_host_name(ssl, tlsName.c_str()) == 1 &&
                SSL_set1_host(ssl, tlsName.c_str()) == 1;
    }
    if (!named) {
        Fail(TlsFailure::Handshake, tlsName, "bad host name");
        return nullptr;
    }
    const std::int64_t end = SteadyMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(ssl);
        if (r == 1)
            return link;
        const int err = SSL_get_error(ssl, r);
        short events = 0;
        if (err == SSL_ERROR_WANT_READ)
            events = POLLIN;
        else if (err == SSL_ERROR_WANT_WRITE)
            events = POLLOUT;
        if (events == 0) {
            const long verify = SSL_get_verify_result(ssl);
            if (verify != X509_V_OK) {
                Fail(TlsFailure::Certificate, tlsName,
                     std::string("certificate refused: ") + X509_verify_cert_error_string(verify));
            } else {
                std::string e = OpenSslError();
                if (err == SSL_ERROR_SYSCALL && e == "unknown error")
                    e = "the peer closed the connection";
                Fail(TlsFailure::Handshake, tlsName, "handshake failed: " + e);
            }
            return nullptr;
        }
        const std::int64_t left = end - SteadyMs();
        const auto w = left > 0 ? platform::WaitFd(fd, events, static_cast<int>(left))
                                : platform::WaitResult::Timeout;
        if (w != platform::WaitResult::Ready) {
            Fail(TlsFailure::Handshake, tlsName,
                 w == platform::WaitResult::Cancelled ? "handshake stopped"
                                                      : "handshake timed out");
            return nullptr;
        }
    }
}

platform::SocketStatus Link::SendAll(const void* data, std::size_t len, int timeoutMs) {
    if (!m_ssl)
        return platform::SocketSendAll(m_fd, data, len, timeoutMs);
    const char* p = static_cast<const char*>(data);
    while (len > 0) {
        short events = 0;
        {
            std::lock_guard<std::mutex> g(m_io);
            ERR_clear_error();
            const int chunk = static_cast<int>(std::min<std::size_t>(len, 1 << 30));
            const int n = SSL_write(m_ssl, p, chunk);
            if (n > 0) {
                p += n;
                len -= static_cast<std::size_t>(n);
                continue;
            }
            const int err = SSL_get_error(m_ssl, n);
            if (err == SSL_ERROR_WANT_WRITE)
                events = POLLOUT;
            else if (err == SSL_ERROR_WANT_READ)
                events = POLLIN;
            else
                return err == SSL_ERROR_ZERO_RETURN || err == SSL_ERROR_SYSCALL
                           ? platform::SocketStatus::Closed
                           : platform::SocketStatus::Error;
        }
        const auto s = Status(platform::WaitFd(m_fd, events, timeoutMs));
        if (s != platform::SocketStatus::Ok)
            return s;
    }
    return platform::SocketStatus::Ok;
}

platform::SocketStatus Link::WaitReadable(int timeoutMs) {
    if (m_ssl) {
        // Bytes already decrypted are not on the socket any more.
        std::lock_guard<std::mutex> g(m_io);
        if (SSL_pending(m_ssl) > 0)
            return platform::SocketStatus::Ok;
    }
    return platform::SocketWaitReadable(m_fd, timeoutMs);
}

ssize_t Link::Recv(void* buf, std::size_t cap) {
    if (!m_ssl)
        return platform::SocketRecv(m_fd, buf, cap);
    std::lock_guard<std::mutex> g(m_io);
    ERR_clear_error();
    const int n = SSL_read(m_ssl, buf, static_cast<int>(std::min<std::size_t>(cap, 1 << 30)));
    if (n > 0)
        return n;
    switch (SSL_get_error(m_ssl, n)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return -2; // a partial record or a protocol message: wait again
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    case SSL_ERROR_SYSCALL:
        return ERR_peek_error() == 0 ? 0 : -1; // closed without close_notify: an end
    default:
        return -1;
    }
}

void Link::Shutdown() {
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
}

TlsFailure LastTlsFailure() {
    return t_failure;
}

void ClearTlsFailure() {
    t_failure = TlsFailure::None;
}

void SetExtraCaFile(const std::string& path) {
    Config& c = Cfg();
    std::lock_guard<std::mutex> g(c.lock);
    if (c.caFile == path)
        return;
    c.caFile = path;
    if (c.ctx)
        SSL_CTX_free(c.ctx); // connections keep their own reference
    c.ctx = nullptr;
}

std::string ExtraCaFile() {
    Config& c = Cfg();
    std::lock_guard<std::mutex> g(c.lock);
    return c.caFile;
}

bool CanLoadCaFile(const std::string& path, std::string& why) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        why = OpenSslError();
        return false;
    }
    const bool ok = SSL_CTX_load_verify_locations(ctx, path.c_str(), nullptr) == 1;
    if (!ok)
        why = OpenSslError();
    SSL_CTX_free(ctx);
    return ok;
}

void SetTlsPolicy(std::vector<std::string> secure, std::vector<std::string> plain,
                  bool secureByDefault) {
    Config& c = Cfg();
    std::lock_guard<std::mutex> g(c.lock);
    c.secure = std::move(secure);
    c.plain = std::move(plain);
    c.secureByDefault = secureByDefault;
}

bool MustUseTls(const std::string& host, int port) {
    const std::string key = host + ":" + std::to_string(port);
    auto same = [&](const std::string& s) {
        return s.size() == key.size() &&
               std::equal(s.begin(), s.end(), key.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    Config& c = Cfg();
    std::lock_guard<std::mutex> g(c.lock);
    if (std::any_of(c.secure.begin(), c.secure.end(), same))
        return true;
    if (std::any_of(c.plain.begin(), c.plain.end(), same))
        return false;
    return c.secureByDefault;
}

} // namespace net
