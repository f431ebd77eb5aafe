// The bandwidth cap: the bucket's arithmetic on a clock the test moves, and the blocking
// Take ending on a stop, an abort or a lifted cap (each only has to end; no time is
// measured).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/user_prefs.h"
#include "platform/event.h"
#include "upload/bandwidth_cap.h"

namespace {

using upload::BandwidthCap;
using upload::TokenBucket;

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1000 * kMs;

// Several senders of 15360-byte chunks, each asking again when told to wait: the bytes
// granted over a simulated run follow the rate, a change of rate counts from its moment
// on, and the debt of a chunk larger than the burst is paid before anyone sends again.
TEST(TokenBucketTest, GrantsFollowTheRateAcrossChangesAndDebts) {
    TokenBucket b;
    EXPECT_EQ(b.TryTake(1 << 30, 0), 0); // no limit
    b.SetRate(1000, 0);                  // starts with a full burst of 250 bytes
    EXPECT_EQ(b.Tokens(), 250);
    EXPECT_EQ(b.TryTake(250, 0), 0);
    EXPECT_EQ(b.TryTake(15360, 0), 0); // not in debt: granted, whatever its size
    EXPECT_EQ(b.Tokens(), -15360);
    EXPECT_EQ(b.TryTake(1, 0), 15360 * kMs); // the debt at 1000 bytes/s
    EXPECT_EQ(b.TryTake(1, 15 * kSecond), 360 * kMs);
    b.SetRate(2000, 15 * kSecond); // 360 bytes left to pay, now at twice the rate
    EXPECT_EQ(b.TryTake(1, 15 * kSecond), 180 * kMs);
    EXPECT_EQ(b.TryTake(1, 15 * kSecond - kSecond), 180 * kMs); // a clock stepping back
    EXPECT_EQ(b.TryTake(7, 15 * kSecond + 180 * kMs), 0);
    EXPECT_EQ(b.Tokens(), -7);
    // A long idle time fills only the burst.
    b.TryTake(0, 100 * kSecond);
    EXPECT_EQ(b.Tokens(), 500);
    b.SetRate(0, 100 * kSecond);
    EXPECT_EQ(b.TryTake(1 << 30, 100 * kSecond), 0);

    // 20 MB/s for 10 simulated seconds, then 5 MB/s for 10 more, three senders in turn.
    const uint64_t chunk = 15360;
    int64_t now = 200 * kSecond;
    int64_t ready[3] = {now, now, now};
    b.SetRate(20'000'000, now);
    uint64_t sent[2] = {0, 0};
    for (int phase = 0; phase < 2; ++phase) {
        const int64_t end = now + 10 * kSecond;
        if (phase == 1)
            b.SetRate(5'000'000, now);
        for (int step = 0; step < 10'000'000; ++step) {
            int s = 0;
            for (int i = 1; i < 3; ++i)
                if (ready[i] < ready[s])
                    s = i;
            now = std::max(now, ready[s]);
            if (now >= end)
                break;
            int64_t wait = b.TryTake(chunk, now);
            if (wait == 0)
                sent[phase] += chunk;
            ready[s] = now + wait;
        }
        now = end;
    }
    // Off by at most one burst and a chunk per sender.
    EXPECT_NEAR(double(sent[0]), 200'000'000, 20'000'000 * 0.25 + 3 * chunk);
    EXPECT_NEAR(double(sent[1]), 50'000'000, 5'000'000 * 0.25 + 3 * chunk);
}

class BandwidthCapTest : public ::testing::Test {
protected:
    void SetUp() override { m_saved = prefs::Current(); }
    void TearDown() override {
        platform::SetThreadCancelEvent(platform::EventHandle());
        prefs::Apply(m_saved);
    }
    static void SetCap(int kbps) {
        prefs::UserPrefs p = prefs::Current();
        p.capKBps = kbps;
        prefs::Apply(p);
    }
    prefs::UserPrefs m_saved;
};

TEST_F(BandwidthCapTest, TakeEndsOnStopAbortAndALiftedCap) {
    BandwidthCap cap;
    SetCap(0);
    EXPECT_EQ(BandwidthCap::CapBytesPerSecond(), 0u);
    EXPECT_TRUE(cap.Take(1 << 30));
    SetCap(1); // 1000 bytes/s
    EXPECT_EQ(BandwidthCap::CapBytesPerSecond(), 1000u);
    EXPECT_TRUE(cap.Take(1 << 20)); // a full bucket grants, leaving a debt of ~17 minutes

    EXPECT_FALSE(cap.Take(1, [] { return true; }));
    platform::EventHandle stop = platform::EventHandle::Create();
    platform::SetThreadCancelEvent(stop);
    stop.Set();
    EXPECT_FALSE(cap.Take(1));
    platform::SetThreadCancelEvent(platform::EventHandle());

    // Another transfer waits in the debt; lifting the cap lets it through without a restart.
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = cap.Take(15360) ? 1 : 0; });
    SetCap(0);
    waiter.join();
    EXPECT_EQ(result, 1);
    // Capped again later, the bucket starts full instead of carrying the old debt.
    SetCap(1);
    EXPECT_TRUE(cap.Take(1, [] { return true; }));
}

} // namespace
