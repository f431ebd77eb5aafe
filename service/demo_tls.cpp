#include "service/demo_tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace qumo_service {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

const long kCaDays = 3650;
// Within what browsers accept for a leaf; the demo makes a new one when it runs out.
const long kLeafDays = 397;

bool AddExt(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value.c_str());
    if (!ext)
        return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A certificate for `key` named `cn`, signed by `issuerKey` (itself when issuer is null).
Cert MakeCert(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey, long days,
              const std::vector<std::pair<int, std::string>>& exts) {
    Cert cert(X509_new(), X509_free);
    unsigned char serial[16];
    if (!cert || RAND_bytes(serial, sizeof serial) != 1)
        return Cert(nullptr, X509_free);
    serial[0] &= 0x7F; // a positive serial
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    X509_NAME* name = X509_get_subject_name(cert.get());
    ok = ok && X509_set_version(cert.get(), 2) == 1 &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("qumo-service demo"), -1,
                                    -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1,
                                    0) == 1 &&
         X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
         X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600) &&
         X509_set_pubkey(cert.get(), key) == 1;
    for (const auto& [nid, value] : exts)
        ok = ok && AddExt(cert.get(), issuer ? issuer : cert.get(), nid, value);
    ok = ok && X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0;
    return ok ? std::move(cert) : Cert(nullptr, X509_free);
}

bool WritePem(const std::string& path, bool secret, EVP_PKEY* key, X509* cert) {
    std::string tmp = path + ".new";
    ::unlink(tmp.c_str());
    FILE* f = std::fopen(tmp.c_str(), "wx");
    if (!f)
        return false;
    ::fchmod(::fileno(f), secret ? 0600 : 0644);
    bool ok = key ? PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1
                  : PEM_write_X509(f, cert) == 1;
    ok = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

bool EnsureDemoTls(const std::string& dataDir, const std::vector<std::string>& names,
                   DemoTlsFiles& out, std::string& err) {
    char abs[PATH_MAX];
    if (!::realpath(dataDir.c_str(), abs)) {
        err = "cannot resolve " + dataDir;
        return false;
    }
    std::string dir = std::string(abs) + "/tls";
    out.caCert = dir + "/ca.pem";
    out.cert = dir + "/server.pem";
    out.key = dir + "/server.key";
    if (Exists(out.cert) && Exists(out.key) && Exists(out.caCert))
        return true;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        err = "cannot make " + dir;
        return false;
    }
    Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::string san = "IP:127.0.0.1";
    for (const std::string& n : names)
        san += ",DNS:" + n;
    Cert ca = caKey ? MakeCert(caKey.get(), "qumo-service demo CA", nullptr, caKey.get(), kCaDays,
                               {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                                {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                {NID_subject_key_identifier, "hash"}})
                    : Cert(nullptr, X509_free);
    Cert leaf = ca && key ? MakeCert(key.get(), "127.0.0.1", ca.get(), caKey.get(), kLeafDays,
                                     {{NID_basic_constraints, "critical,CA:FALSE"},
                                      {NID_key_usage, "critical,digitalSignature"},
                                      {NID_ext_key_usage, "serverAuth"},
                                      {NID_subject_alt_name, san},
                                      {NID_authority_key_identifier, "keyid"}})
                          : Cert(nullptr, X509_free);
    // The certificate last: its presence is what tells a later start the set is whole.
    if (!leaf || !WritePem(dir + "/ca.key", true, caKey.get(), nullptr) ||
        !WritePem(out.caCert, false, nullptr, ca.get()) ||
        !WritePem(out.key, true, key.get(), nullptr) ||
        !WritePem(out.cert, false, nullptr, leaf.get())) {
        unsigned long e = ERR_get_error();
        char why[256] = "file error";
        if (e)
            ERR_error_string_n(e, why, sizeof why);
        ERR_clear_error();
        err = "cannot make the demo certificates in " + dir + ": " + why;
        return false;
    }
    return true;
}

} // namespace qumo_service
