// The running service: its records, stores, faults and both listeners.
#pragma once

#include "service/blob_store.h"
#include "service/db.h"
#include "service/faults.h"
#include "service/options.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace qumo_service {

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

    std::string ApiHost() const { return "127.0.0.1:" + std::to_string(apiPort); }
    std::string UploadHost() const { return "127.0.0.1:" + std::to_string(uploadPort); }
    // The website, "www.qumo.localhost:<port>" unless --site-host names another.
    std::string SiteHost() const;
    // The partner-login host: the website's host with its first label replaced by "open".
    std::string PartnerHost() const;
    // The website's bare domain (no first label, no port): the cookies' domain.
    std::string CookieDomain() const;
    std::string HeadfaceUrl(int64_t uid) const;

    // An upload being written or checked is held here so two connections never interleave.
    bool TryLockUpload(int64_t upid);
    void UnlockUpload(int64_t upid);

    // Request targets of the last API calls, oldest first, for "/admin/requests".
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

    int ApiPort() const { return ctx_.apiPort; }
    int UploadPort() const { return ctx_.uploadPort; }
    ServiceContext& Context() { return ctx_; }

private:
    ServiceContext ctx_;
    std::unique_ptr<httplib::Server> api_;
    std::unique_ptr<UploadServer> upload_;
    std::thread apiThread_;
};

} // namespace qumo_service
