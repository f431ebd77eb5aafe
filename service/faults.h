// Fault injection for tests and the counters the admin call reports.
#pragma once

#include "service/options.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>

namespace qumo_service {

struct Counters {
    std::atomic<int64_t> apiCalls{0}, logins{0}, failedLogins{0}, instantUploads{0},
        uploadsOpened{0}, uploadPosts{0}, uploadBytes{0}, uploadsFinished{0}, sha1Mismatches{0},
        droppedConnections{0}, failed500{0}, refusedNoSpace{0}, uploadsAbandoned{0}, throttled{0},
        stalledUploads{0};
    std::string Json() const;
};

class Faults {
public:
    void Load(const Options& o);

    // Upload server: returns the byte budget for an upload body of `bodyLength` bytes before
    // the connection is dropped, or -1 for none. A one-time drop is used up by this call;
    // without one, drop_upload_percent of the bodies get a random budget below their length.
    int64_t TakeDropBudget(int64_t bodyLength);
    // API listener: true when this call must fail with HTTP 500 (uses up one of fail_next;
    // without those, fail_api_percent of the calls fail).
    bool TakeFailure();
    // Announcement: true when this one must be refused as a client error (status 400), as
    // a name the service cannot take would be (uses up one of refuse_announce).
    bool TakeAnnounceRefusal();
    bool Chunked() const { return chunked_.load(); }
    bool CloseAfterAnswer() const { return close_.load(); }
    int DelayMs() const { return delayMs_.load(); }

    // Applies "key=value" settings of the admin call; false with err on a bad one.
    // Keys: drop_after (-1 off), drop_always (0/1), fail_next, chunked, close, delay_ms,
    // drop_upload_percent and fail_api_percent (0-100), fault_seed (starts the chances anew),
    // refuse_announce (how many announcements to come are refused).
    bool Set(const std::string& key, const std::string& value, std::string& err);
    std::string Json() const;

private:
    std::atomic<int64_t> dropAfter_{-1};
    std::atomic<bool> dropAlways_{false};
    std::atomic<int> failNext_{0};
    std::atomic<int> refuseAnnounce_{0};
    std::atomic<bool> chunked_{false}, close_{false};
    std::atomic<int> delayMs_{0};
    std::atomic<int> dropPercent_{0}, failPercent_{0};
    std::atomic<uint64_t> seed_{1};

    // True with `percent` % chance; `below` (when > 0) also draws a number under it.
    bool Roll(int percent, int64_t below, int64_t* drawn);
    std::mutex rngMu_;
    std::mt19937_64 rng_{1};
};

} // namespace qumo_service
