// Failure counting per key (an account, a client address) with a growing temporary refusal:
// after `freeTries` failures within `windowMs` the key is refused for a lock time that
// doubles with every further lock, up to `maxLockMs`. Quiet for a window, a key starts anew.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qumo_service {

class Throttle {
public:
    Throttle(int freeTries, int64_t windowMs, int64_t lockMs, int64_t maxLockMs)
        : freeTries_(freeTries), windowMs_(windowMs), lockMs_(lockMs), maxLockMs_(maxLockMs) {}

    // Milliseconds the key is still refused; 0 when it may try.
    int64_t RefusedMs(const std::string& key);
    // Counts a failure (or, for quotas, a use) of the key.
    void Fail(const std::string& key);
    // A success forgets the key's failures.
    void Forget(const std::string& key);
    void Configure(int freeTries, int64_t lockMs, int64_t maxLockMs);

private:
    struct State {
        int failures = 0;
        int64_t lastMs = 0, refusedUntilMs = 0, nextLockMs = 0;
    };
    static int64_t NowMs();
    void PruneLocked(int64_t now);

    int freeTries_;
    const int64_t windowMs_;
    int64_t lockMs_, maxLockMs_;
    std::mutex mu_;
    std::unordered_map<std::string, State> keys_;
};

} // namespace qumo_service
