#include "service/throttle.h"

#include <algorithm>

namespace qumo_service {

namespace {

// Beyond this many keys the quiet ones are dropped, so guessing from many addresses cannot
// grow the table without end.
constexpr size_t kMaxKeys = 100000;

} // namespace

int64_t Throttle::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Throttle::Configure(int freeTries, int64_t lockMs, int64_t maxLockMs) {
    std::lock_guard<std::mutex> lock(mu_);
    freeTries_ = std::max(1, freeTries);
    lockMs_ = lockMs;
    maxLockMs_ = std::max(lockMs, maxLockMs);
}

int64_t Throttle::RefusedMs(const std::string& key) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = keys_.find(key);
    if (it == keys_.end())
        return 0;
    int64_t now = NowMs();
    return std::max<int64_t>(0, it->second.refusedUntilMs - now);
}

void Throttle::Fail(const std::string& key) {
    std::lock_guard<std::mutex> lock(mu_);
    int64_t now = NowMs();
    if (keys_.size() >= kMaxKeys && keys_.find(key) == keys_.end())
        PruneLocked(now);
    State& s = keys_[key];
    if (now - s.lastMs > windowMs_ && now >= s.refusedUntilMs) {
        s.failures = 0;
        s.nextLockMs = lockMs_;
    }
    if (s.nextLockMs == 0)
        s.nextLockMs = lockMs_;
    s.lastMs = now;
    if (++s.failures >= freeTries_) {
        s.refusedUntilMs = now + s.nextLockMs;
        s.nextLockMs = std::min(maxLockMs_, s.nextLockMs * 2);
        s.failures = 0;
    }
}

void Throttle::Forget(const std::string& key) {
    std::lock_guard<std::mutex> lock(mu_);
    keys_.erase(key);
}

void Throttle::PruneLocked(int64_t now) {
    for (auto it = keys_.begin(); it != keys_.end();) {
        bool quiet = now - it->second.lastMs > windowMs_ && now >= it->second.refusedUntilMs;
        it = quiet ? keys_.erase(it) : std::next(it);
    }
    // Still full: the table is under a flood; start it anew rather than grow.
    if (keys_.size() >= kMaxKeys)
        keys_.clear();
}

} // namespace qumo_service
