// The user's bandwidth cap: one token bucket shared by every transfer, so N files sent at
// once together stay under the cap, never N times it.
//
// The cap is read from prefs::Current().capKBps (1 KB = 1000 bytes; 0 = no cap) at every
// Take, so a change applies to transfers already running within one wait slice.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace upload {

// The arithmetic of the bucket, without a clock: every call is given the time (any
// monotonic nanosecond count). Not thread-safe; BandwidthCap guards it.
//
// Tokens are bytes that may be sent now. They refill at the rate up to kBurstNs worth
// of bytes. A take is granted while the bucket is not in debt and then subtracts the
// whole amount, possibly going below zero: a chunk larger than the bucket still goes
// out, and the senders after it wait until the debt is paid. Over any long run the
// bytes granted are the rate times the time, plus at most one burst and one chunk.
class TokenBucket {
public:
    static constexpr int64_t kBurstNs = 250'000'000;

    // Sets the rate in bytes per second (0: no limit). The bucket is first refilled at the
    // old rate up to `nowNs`, so a change counts only from then on; a bucket leaving "no
    // limit" starts full.
    void SetRate(uint64_t bytesPerSecond, int64_t nowNs);
    uint64_t Rate() const { return m_rate; }

    // 0 when `bytes` may be sent now (and they are taken), otherwise the nanoseconds until
    // the debt is paid at the current rate; ask again then. Always 0 without a limit.
    int64_t TryTake(uint64_t bytes, int64_t nowNs);

    // Whole bytes in the bucket (negative: the debt).
    int64_t Tokens() const;

private:
    void Refill(int64_t nowNs);

    uint64_t m_rate = 0;
    // Tokens in byte-nanoseconds per second (bytes x 1e9), so a refill of any interval at
    // any rate is exact and rounding never drifts the rate.
    __int128 m_tokens = 0;
    int64_t m_lastNs = 0;
};

class BandwidthCap {
public:
    // The one cap every transfer of the process goes through.
    static BandwidthCap& Shared();

    // Waits until `bytes` may be sent under the cap in force. False when it ended early:
    // the calling thread's stop (platform::ThreadCancelRequested) or `abort` returning
    // true, both looked at every kSliceMs at least. True at once without a cap.
    bool Take(std::size_t bytes, const std::function<bool()>& abort = {});

    // Longest single sleep: bounds how late a new cap, a stop or an abort is seen.
    static constexpr int kSliceMs = 100;

    // The cap in bytes per second that prefs::Current() sets.
    static uint64_t CapBytesPerSecond();

    // The most a sender should take at once: `chunk`, or under a cap a quarter of a second
    // of it (at least one byte).
    static std::size_t ChunkUnder(std::size_t chunk);

private:
    std::mutex m_lock;
    TokenBucket m_bucket;               // guarded by m_lock
    std::atomic<bool> m_limited{false}; // m_bucket has a rate; lets an uncapped Take skip the lock
};

} // namespace upload
