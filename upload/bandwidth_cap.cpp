#include "upload/bandwidth_cap.h"

#include <algorithm>
#include <chrono>

#include "app/user_prefs.h"
#include "platform/event.h"

namespace upload {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr uint64_t kBytesPerKB = 1000;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void TokenBucket::Refill(int64_t nowNs) {
    // A clock that stepped back refills nothing and keeps the later mark.
    if (nowNs <= m_lastNs)
        return;
    const __int128 full = static_cast<__int128>(m_rate) * kBurstNs;
    const __int128 gained = static_cast<__int128>(nowNs - m_lastNs) * m_rate;
    m_tokens = std::min(full, m_tokens + gained);
    m_lastNs = nowNs;
}

void TokenBucket::SetRate(uint64_t bytesPerSecond, int64_t nowNs) {
    if (bytesPerSecond == m_rate)
        return;
    if (m_rate == 0) {
        m_rate = bytesPerSecond;
        m_tokens = static_cast<__int128>(m_rate) * kBurstNs;
        m_lastNs = nowNs;
        return;
    }
    Refill(nowNs);
    m_rate = bytesPerSecond;
    if (m_rate == 0) {
        m_tokens = 0;
        return;
    }
    // A debt keeps its bytes and is paid at the new rate; a full bucket shrinks to the new
    // burst.
    m_tokens = std::min(m_tokens, static_cast<__int128>(m_rate) * kBurstNs);
}

int64_t TokenBucket::TryTake(uint64_t bytes, int64_t nowNs) {
    if (m_rate == 0)
        return 0;
    Refill(nowNs);
    if (m_tokens >= 0) {
        m_tokens -= static_cast<__int128>(bytes) * kNsPerSecond;
        return 0;
    }
    const __int128 wait = (-m_tokens + m_rate - 1) / m_rate;
    return static_cast<int64_t>(std::min<__int128>(wait, INT64_MAX));
}

int64_t TokenBucket::Tokens() const {
    return static_cast<int64_t>(m_tokens / kNsPerSecond);
}

BandwidthCap& BandwidthCap::Shared() {
    static BandwidthCap cap;
    return cap;
}

uint64_t BandwidthCap::CapBytesPerSecond() {
    const int kbps = prefs::Current().capKBps;
    return kbps > 0 ? static_cast<uint64_t>(kbps) * kBytesPerKB : 0;
}

std::size_t BandwidthCap::ChunkUnder(std::size_t chunk) {
    const uint64_t rate = CapBytesPerSecond();
    if (rate == 0)
        return chunk;
    return static_cast<std::size_t>(std::clamp<uint64_t>(rate / 4, 1, chunk));
}

bool BandwidthCap::Take(std::size_t bytes, const std::function<bool()>& abort) {
    for (;;) {
        const uint64_t rate = CapBytesPerSecond();
        if (rate == 0 && !m_limited.load(std::memory_order_relaxed))
            return true;
        int64_t waitNs = 0;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            const int64_t now = NowNs();
            m_bucket.SetRate(rate, now);
            m_limited.store(rate != 0, std::memory_order_relaxed);
            waitNs = m_bucket.TryTake(bytes, now);
        }
        if (waitNs == 0)
            return true;
        if (platform::ThreadCancelRequested() || (abort && abort()))
            return false;
        // Rounded up: a sleep shorter than the debt only spins. The slice lets a new cap,
        // a stop or an abort through while a long debt is paid.
        const int64_t waitMs = (waitNs + 999'999) / 1'000'000;
        if (!platform::CancellableSleep(static_cast<int>(std::min<int64_t>(waitMs, kSliceMs))))
            return false;
    }
}

} // namespace upload
