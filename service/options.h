// Command line of qumo-service.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qumo_service {

struct Options {
    std::string dataDir;
    int apiPort = 8410;
    int uploadPort = 8411;
    bool demo = false;
    // TLS on both listeners: a certificate chain and its key (PEM), or with --demo --tls a
    // local CA and certificate the service makes in its data folder at first start.
    std::string tlsCert, tlsKey;
    bool demoTls = false;
    bool admin = false;
    std::string latestVersion; // empty: every client is current
    std::string siteHost;      // website host named in pages and redirects; empty: derived
    std::string adminSecret;   // with --admin; empty: a random one, printed at start
    // Limits against strangers.
    int64_t abandonAfterSec = 7 * 24 * 3600; // an upload idle this long is dropped
    int64_t lockoutMs = 60000;               // first refusal after repeated failed logins
    int64_t uploadStallMs = 15000;           // an upload body without progress this long ends
    int maxConnPerAddress = 64;              // connections of one client address per listener
    int headTimeoutMs = 10000;               // from a request's first byte to its whole head
    int accountsPerHour = 10;                // new accounts per client address
    // Tests only: /admin/requests keeps tokens and password digests as sent.
    bool recordExactRequests = false;
    // Fault options (tests); the admin call changes them at run time.
    int64_t dropUploadAfter = -1; // drop an upload connection after this many body bytes
    bool dropAlways = false;      // every upload, not just the next one
    int failApiCalls = 0;         // answer the next N API calls with HTTP 500
    bool chunked = false;         // API answers with chunked bodies
    bool closeAfterAnswer = false;
    int delayMs = 0;
    // Faults by chance, for soak runs: the share (0-100) of upload bodies dropped at a random
    // byte and of API calls answered with HTTP 500; the seed makes a run repeatable.
    int dropUploadPercent = 0;
    int failApiPercent = 0;
    uint64_t faultSeed = 1;
    std::vector<std::pair<std::string, int64_t>> setSpace; // mobile, total megabytes
};

// Parses argv; false with a message in err on bad input ("--help" also returns false).
bool ParseOptions(int argc, char** argv, Options& out, std::string& err);
const char* UsageText();

} // namespace qumo_service
