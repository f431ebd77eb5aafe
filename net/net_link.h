// One connection's byte stream: a plain TCP socket, or TLS (OpenSSL) over it. The HTTP
// client and the upload transfer read and write through it, so both speak TLS the same way.
//
// TLS connections verify the peer against the system's trust store plus the configured
// extra CA file, check the host name (or IP address) and accept TLS 1.2 or newer. Every
// wait, the handshake's included, is bounded and ends on the thread's cancel event.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "platform/socket.h"

typedef struct ssl_st SSL;

namespace net {

class Link {
public:
    // A plain link over the connected socket `fd`, which it owns.
    explicit Link(int fd);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // A link over the connected socket `fd` (owned in every case: closed on failure). With
    // an empty `tlsName` it is plain; otherwise the TLS handshake for that host name or IP
    // address runs within `timeoutMs`. None when it failed; the reason is logged and kept
    // in LastTlsFailure().
    static std::shared_ptr<Link> Open(int fd, const std::string& tlsName, int timeoutMs);

    int Fd() const { return m_fd; }
    bool Secure() const { return m_ssl != nullptr; }

    // As the socket functions of the same names (platform/socket.h), through TLS when
    // secure. Several threads may send and receive at once: each TLS call is serialised.
    platform::SocketStatus SendAll(const void* data, std::size_t len, int timeoutMs);
    platform::SocketStatus WaitReadable(int timeoutMs);
    ssize_t Recv(void* buf, std::size_t cap);
    // Ends every wait on the link at once (both directions shut down); the descriptor stays
    // open until the last holder lets go of the link.
    void Shutdown();

private:
    int m_fd;
    SSL* m_ssl = nullptr;
    std::mutex m_io;
};

enum class TlsFailure { None, Certificate, Handshake };

// Why the calling thread's last TLS handshake failed; cleared by ClearTlsFailure.
TlsFailure LastTlsFailure();
void ClearTlsFailure();

// One extra CA file (PEM) trusted beside the system's store; empty for none.
void SetExtraCaFile(const std::string& path);
std::string ExtraCaFile();
// True when `path` holds at least one certificate OpenSSL can load.
bool CanLoadCaFile(const std::string& path, std::string& why);

// Which hosts are reached over TLS whatever a URL says: those named in `secure`
// ("host:port"), not those in `plain`, and any other (an upload server the API names, an
// avatar) when `secureByDefault`. An https host is so never contacted in clear.
void SetTlsPolicy(std::vector<std::string> secure, std::vector<std::string> plain,
                  bool secureByDefault);
bool MustUseTls(const std::string& host, int port);

} // namespace net
