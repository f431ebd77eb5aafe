#include "service/faults.h"

#include "service/json_out.h"

#include <cerrno>
#include <cstdlib>

namespace qumo_service {

namespace {

bool ToInt(const std::string& s, int64_t lo, int64_t hi, int64_t& out) {
    if (s.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

std::string Counters::Json() const {
    JsonObject o;
    o.Int("api_calls", apiCalls).Int("logins", logins).Int("failed_logins", failedLogins);
    o.Int("instant_uploads", instantUploads).Int("uploads_opened", uploadsOpened);
    o.Int("upload_posts", uploadPosts).Int("upload_bytes", uploadBytes);
    o.Int("uploads_finished", uploadsFinished).Int("sha1_mismatches", sha1Mismatches);
    o.Int("dropped_connections", droppedConnections).Int("failed_500", failed500);
    o.Int("refused_no_space", refusedNoSpace).Int("uploads_abandoned", uploadsAbandoned);
    o.Int("throttled", throttled).Int("stalled_uploads", stalledUploads);
    return o.Done();
}

void Faults::Load(const Options& o) {
    dropAfter_ = o.dropUploadAfter;
    dropAlways_ = o.dropAlways;
    failNext_ = o.failApiCalls;
    chunked_ = o.chunked;
    close_ = o.closeAfterAnswer;
    delayMs_ = o.delayMs;
    dropPercent_ = o.dropUploadPercent;
    failPercent_ = o.failApiPercent;
    seed_ = o.faultSeed;
    std::lock_guard<std::mutex> lock(rngMu_);
    rng_.seed(o.faultSeed);
}

bool Faults::Roll(int percent, int64_t below, int64_t* drawn) {
    if (percent <= 0)
        return false;
    // One generator for every connection's thread: the lock keeps its state sound.
    std::lock_guard<std::mutex> lock(rngMu_);
    if (rng_() % 100 >= static_cast<uint64_t>(percent))
        return false;
    if (drawn)
        *drawn = below > 0 ? static_cast<int64_t>(rng_() % static_cast<uint64_t>(below)) : 0;
    return true;
}

int64_t Faults::TakeDropBudget(int64_t bodyLength) {
    if (dropAlways_.load())
        return dropAfter_.load();
    int64_t once = dropAfter_.exchange(-1);
    if (once >= 0)
        return once;
    int64_t budget = -1;
    if (bodyLength > 0 && Roll(dropPercent_.load(), bodyLength, &budget))
        return budget;
    return -1;
}

bool Faults::TakeFailure() {
    int n = failNext_.load();
    while (n > 0) {
        if (failNext_.compare_exchange_weak(n, n - 1))
            return true;
    }
    return Roll(failPercent_.load(), 0, nullptr);
}

bool Faults::TakeAnnounceRefusal() {
    int n = refuseAnnounce_.load();
    while (n > 0) {
        if (refuseAnnounce_.compare_exchange_weak(n, n - 1))
            return true;
    }
    return false;
}

bool Faults::Set(const std::string& key, const std::string& value, std::string& err) {
    int64_t v = 0;
    if (key == "drop_after" && ToInt(value, -1, INT64_MAX, v)) {
        dropAfter_ = v;
    } else if (key == "drop_always" && ToInt(value, 0, 1, v)) {
        dropAlways_ = v == 1;
    } else if (key == "fail_next" && ToInt(value, 0, 1000000, v)) {
        failNext_ = static_cast<int>(v);
    } else if (key == "refuse_announce" && ToInt(value, 0, 1000000, v)) {
        refuseAnnounce_ = static_cast<int>(v);
    } else if (key == "chunked" && ToInt(value, 0, 1, v)) {
        chunked_ = v == 1;
    } else if (key == "close" && ToInt(value, 0, 1, v)) {
        close_ = v == 1;
    } else if (key == "delay_ms" && ToInt(value, 0, 60000, v)) {
        delayMs_ = static_cast<int>(v);
    } else if (key == "drop_upload_percent" && ToInt(value, 0, 100, v)) {
        dropPercent_ = static_cast<int>(v);
    } else if (key == "fail_api_percent" && ToInt(value, 0, 100, v)) {
        failPercent_ = static_cast<int>(v);
    } else if (key == "fault_seed" && ToInt(value, 0, INT64_MAX, v)) {
        seed_ = static_cast<uint64_t>(v);
        std::lock_guard<std::mutex> lock(rngMu_);
        rng_.seed(static_cast<uint64_t>(v));
    } else {
        err = "bad fault setting " + key + "=" + value;
        return false;
    }
    return true;
}

std::string Faults::Json() const {
    JsonObject o;
    o.Int("drop_after", dropAfter_).Int("drop_always", dropAlways_ ? 1 : 0);
    o.Int("fail_next", failNext_).Int("refuse_announce", refuseAnnounce_);
    o.Int("chunked", chunked_ ? 1 : 0);
    o.Int("close", close_ ? 1 : 0).Int("delay_ms", delayMs_);
    o.Int("drop_upload_percent", dropPercent_).Int("fail_api_percent", failPercent_);
    o.Int("fault_seed", static_cast<int64_t>(seed_.load()));
    return o.Done();
}

} // namespace qumo_service
