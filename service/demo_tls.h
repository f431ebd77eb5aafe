// The demo's own TLS: a local CA and a certificate it signed for the loopback address and
// the demo's host names, made once in the data folder and used again at every start.
#pragma once

#include <string>
#include <vector>

namespace qumo_service {

struct DemoTlsFiles {
    std::string caCert, cert, key; // absolute paths
};

// Makes <dir>/tls/{ca.pem,ca.key,server.pem,server.key} unless server.pem and server.key are
// there already. `names` are the DNS names the certificate carries besides 127.0.0.1.
bool EnsureDemoTls(const std::string& dataDir, const std::vector<std::string>& names,
                   DemoTlsFiles& out, std::string& err);

} // namespace qumo_service
