#include "ui/partner/partner_trust.h"

#include "net/hosts.h"
#include "net/net_link.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

// The configured partner host and port, when it is an https host.
bool PartnerHost(std::string& host, int& port) {
    const std::string base = hosts::PartnerLoginBase();
    const std::string scheme = "https://";
    if (base.rfind(scheme, 0) != 0)
        return false;
    std::string hostPort = base.substr(scheme.size());
    hostPort = hostPort.substr(0, hostPort.find('/'));
    const std::size_t colon = hostPort.rfind(':');
    host = hostPort.substr(0, colon);
    port = colon == std::string::npos ? 443 : std::atoi(hostPort.c_str() + colon + 1);
    for (char& c : host)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return !host.empty();
}

X509* FromDer(const QSslCertificate& cert) {
    const QByteArray der = cert.toDer();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
    return d2i_X509(nullptr, &p, der.size());
}

} // namespace

bool PartnerCertificateTrusted(const QUrl& url, const QList<QSslCertificate>& chain,
                               std::string& why) {
    const std::string ca = net::ExtraCaFile();
    std::string host;
    int port = 0;
    if (ca.empty()) {
        why = "no extra CA is configured";
        return false;
    }
    if (!PartnerHost(host, port)) {
        why = "the partner sign-in host is not an https host";
        return false;
    }
    const std::string urlHost = url.host().toLower().toStdString();
    if (url.scheme() != QLatin1String("https") || urlHost != host || url.port(443) != port) {
        why = "not the partner sign-in host";
        return false;
    }
    if (chain.isEmpty()) {
        why = "no certificate";
        return false;
    }
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(),
                                                                  X509_STORE_free);
    std::unique_ptr<X509, decltype(&X509_free)> leaf(FromDer(chain.front()), X509_free);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> rest(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); });
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                        X509_STORE_CTX_free);
    if (!store || !leaf || !rest || !ctx || X509_STORE_load_file(store.get(), ca.c_str()) != 1) {
        why = "the certificate or the CA file cannot be read";
        return false;
    }
    for (qsizetype i = 1; i < chain.size(); ++i)
        if (X509* c = FromDer(chain[i]); c && !sk_X509_push(rest.get(), c))
            X509_free(c);
    if (X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), rest.get()) != 1) {
        why = "out of memory";
        return false;
    }
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    // The host's name (or address) must be in the certificate, as in every TLS check.
    const bool named = X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1 ||
                       X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
    if (!named || X509_verify_cert(ctx.get()) != 1) {
        const int err = X509_STORE_CTX_get_error(ctx.get());
        why = named ? X509_verify_cert_error_string(err) : "bad host name";
        return false;
    }
    return true;
}
