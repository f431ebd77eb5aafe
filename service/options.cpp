#include "service/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qumo_service {

namespace {

bool ParseInt(const char* s, int64_t lo, int64_t hi, int64_t& out) {
    if (!s || !*s)
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

const char* UsageText() {
    return "usage: qumo-service --data DIR [--port 8410] [--upload-port 8411] [--demo [--tls]]\n"
           "                    [--tls-cert FILE --tls-key FILE]\n"
           "                    [--latest-version V] [--site-host HOST:PORT]\n"
           "                    [--admin] [--admin-secret S]\n"
           "  limits: [--abandon-after SECONDS] [--lockout-ms N] [--upload-stall-ms N]\n"
           "          [--max-conn-per-address N] [--head-timeout-ms N] [--accounts-per-hour N]\n"
           "  fault options: [--drop-upload-after N] [--drop-always] [--fail-api N]\n"
           "                 [--chunked] [--close-after-answer] [--delay-ms N]\n"
           "                 [--drop-upload-percent P] [--fail-api-percent P] [--fault-seed S]\n"
           "                 [--set-space MOBILE=MEGABYTES]... [--record-exact-requests]\n";
}

bool ParseOptions(int argc, char** argv, Options& out, std::string& err) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = (i + 1 < argc) ? argv[i + 1] : nullptr;
        int64_t v = 0;
        auto needInt = [&](int64_t lo, int64_t hi) {
            if (!ParseInt(next, lo, hi, v)) {
                err = "bad or missing value for " + a;
                return false;
            }
            ++i;
            return true;
        };
        if (a == "--data") {
            if (!next || !*next) {
                err = "missing value for --data";
                return false;
            }
            out.dataDir = next;
            ++i;
        } else if (a == "--port") {
            if (!needInt(0, 65535))
                return false;
            out.apiPort = static_cast<int>(v);
        } else if (a == "--upload-port") {
            if (!needInt(0, 65535))
                return false;
            out.uploadPort = static_cast<int>(v);
        } else if (a == "--demo") {
            out.demo = true;
        } else if (a == "--tls") {
            out.demoTls = true;
        } else if (a == "--tls-cert" || a == "--tls-key") {
            if (!next || !*next) {
                err = "missing value for " + a;
                return false;
            }
            (a == "--tls-cert" ? out.tlsCert : out.tlsKey) = next;
            ++i;
        } else if (a == "--admin") {
            out.admin = true;
        } else if (a == "--admin-secret") {
            if (!next || std::strlen(next) < 16) {
                err = "--admin-secret wants at least 16 characters";
                return false;
            }
            out.adminSecret = next;
            ++i;
        } else if (a == "--abandon-after") {
            if (!needInt(1, INT64_MAX / 1000))
                return false;
            out.abandonAfterSec = v;
        } else if (a == "--lockout-ms") {
            if (!needInt(1, 24LL * 3600 * 1000))
                return false;
            out.lockoutMs = v;
        } else if (a == "--upload-stall-ms") {
            if (!needInt(100, 3600 * 1000))
                return false;
            out.uploadStallMs = v;
        } else if (a == "--max-conn-per-address") {
            if (!needInt(1, 100000))
                return false;
            out.maxConnPerAddress = static_cast<int>(v);
        } else if (a == "--head-timeout-ms") {
            if (!needInt(100, 600000))
                return false;
            out.headTimeoutMs = static_cast<int>(v);
        } else if (a == "--accounts-per-hour") {
            if (!needInt(1, 1000000))
                return false;
            out.accountsPerHour = static_cast<int>(v);
        } else if (a == "--record-exact-requests") {
            out.recordExactRequests = true;
        } else if (a == "--latest-version") {
            if (!next) {
                err = "missing value for --latest-version";
                return false;
            }
            out.latestVersion = next;
            ++i;
        } else if (a == "--site-host") {
            if (!next || !*next) {
                err = "missing value for --site-host";
                return false;
            }
            out.siteHost = next;
            ++i;
        } else if (a == "--drop-upload-after") {
            if (!needInt(0, INT64_MAX))
                return false;
            out.dropUploadAfter = v;
        } else if (a == "--drop-always") {
            out.dropAlways = true;
        } else if (a == "--fail-api") {
            if (!needInt(0, 1000000))
                return false;
            out.failApiCalls = static_cast<int>(v);
        } else if (a == "--chunked") {
            out.chunked = true;
        } else if (a == "--close-after-answer") {
            out.closeAfterAnswer = true;
        } else if (a == "--delay-ms") {
            if (!needInt(0, 60000))
                return false;
            out.delayMs = static_cast<int>(v);
        } else if (a == "--drop-upload-percent") {
            if (!needInt(0, 100))
                return false;
            out.dropUploadPercent = static_cast<int>(v);
        } else if (a == "--fail-api-percent") {
            if (!needInt(0, 100))
                return false;
            out.failApiPercent = static_cast<int>(v);
        } else if (a == "--fault-seed") {
            if (!needInt(0, INT64_MAX))
                return false;
            out.faultSeed = static_cast<uint64_t>(v);
        } else if (a == "--set-space") {
            const char* eq = next ? std::strchr(next, '=') : nullptr;
            if (!eq || eq == next || !ParseInt(eq + 1, 0, INT64_MAX / (1 << 20), v)) {
                err = "--set-space wants MOBILE=MEGABYTES";
                return false;
            }
            out.setSpace.emplace_back(std::string(next, eq), v);
            ++i;
        } else {
            err = "unknown option " + a;
            return false;
        }
    }
    if (out.dataDir.empty()) {
        err = "--data DIR is required";
        return false;
    }
    if (out.tlsCert.empty() != out.tlsKey.empty()) {
        err = "--tls-cert and --tls-key go together";
        return false;
    }
    if (out.demoTls && (!out.demo || !out.tlsCert.empty())) {
        err = "--tls makes the demo's own certificate: it needs --demo and no --tls-cert";
        return false;
    }
    return true;
}

} // namespace qumo_service
