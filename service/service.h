// The running service: its records, stores, faults and both listeners.
#pragma once

#include "service/blob_store.h"
#include "service/db.h"
#include "service/faults.h"
#include "service/options.h"
#include "service/throttle.h"
#include "service/tls.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace qumo_service {

class ApiServer;
class UploadServer;

// What every route needs; lives as long as the service.
struct ServiceContext {
    Options opts;
    Db db;
    BlobStore store;
    Faults faults;
    Counters counters;
    int apiPort = 0;
    int uploadPort = 0;
    std::string adminSecret;         // empty: the admin calls are off
    std::unique_ptr<TlsContext> tls; // set: both listeners speak TLS only
    std::string demoCaFile;          // --demo --tls: the CA that signed the demo's certificate

    // Failed logins per account and per client address; new accounts per client address;
    // unknown upload ids per client address.
    Throttle loginsByAccount{5, 15 * 60 * 1000, 60000, 15 * 60 * 1000};
    Throttle loginsByAddress{20, 15 * 60 * 1000, 60000, 15 * 60 * 1000};
    Throttle newAccounts{10, 3600 * 1000, 3600 * 1000, 3600 * 1000};
    Throttle uploadGuesses{20, 60 * 1000, 10000, 60 * 1000};

    // "https://" when the listeners speak TLS, else "http://": every address the service names.
    std::string Scheme() const { return tls ? "https://" : "http://"; }
    std::string ApiHost() const { return "127.0.0.1:" + std::to_string(apiPort); }
    std::string UploadHost() const { return "127.0.0.1:" + std::to_string(uploadPort); }
    // The website, "www.qumo.localhost:<port>" unless --site-host names another.
    std::string SiteHost() const;
    // The partner-login host: the website's host with its first label replaced by "open".
    std::string PartnerHost() const;
    // The website's bare domain (no first label, no port): the cookies' domain.
    std::string CookieDomain() const;
    std::string HeadfaceUrl(const std::string& face) const;

    // An upload being written or checked is held here so two connections never interleave.
    bool TryLockUpload(int64_t upid);
    void UnlockUpload(int64_t upid);

    // Request targets of the last API calls, oldest first, for "/admin/requests". Tokens and
    // passwords are kept out unless the tests asked for exact targets.
    void RecordRequest(const std::string& target);
    std::string RequestsJson();

private:
    std::mutex requestsMu_;
    std::deque<std::string> requests_;

    std::mutex busyMu_;
    std::set<int64_t> busy_;
};

class Service {
public:
    Service();
    ~Service();

    // Opens the data folder, seeds the demo when asked, binds both listeners on 127.0.0.1.
    bool Start(const Options& opts, std::string& err);
    // Ends both listeners and waits for their threads.
    void Stop();
    // Drops uploads idle for longer than the abandon time, with their partial bytes.
    void SweepAbandoned();

    int ApiPort() const { return ctx_.apiPort; }
    int UploadPort() const { return ctx_.uploadPort; }
    ServiceContext& Context() { return ctx_; }

private:
    void SweepLoop();
    bool StartTls(std::string& err);

    ServiceContext ctx_;
    std::unique_ptr<ApiServer> api_;
    std::unique_ptr<UploadServer> upload_;
    std::thread sweeper_;
    std::mutex sweepMu_;
    std::condition_variable sweepCv_;
    bool stopping_ = false;
};

} // namespace qumo_service
