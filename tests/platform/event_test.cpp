#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0); }
    ~SocketPair() {
        for (int f : fd)
            if (f >= 0)
                close(f);
    }
};

} // namespace

TEST(EventHandle, ManualResetSetResetAndWait) {
    EventHandle ev = EventHandle::Create();
    ASSERT_TRUE(ev.Valid());
    EXPECT_FALSE(ev.IsSet());
    EXPECT_FALSE(ev.WaitFor(0));
    EXPECT_TRUE(ev.Set());
    EXPECT_TRUE(ev.Set()); // setting twice keeps one signalled state
    EXPECT_TRUE(ev.IsSet());
    // Manual reset: any number of waits see it until Reset.
    EXPECT_TRUE(ev.WaitFor(0));
    EXPECT_TRUE(ev.WaitFor(-1));
    EXPECT_TRUE(ev.Reset());
    EXPECT_FALSE(ev.IsSet());
    EXPECT_FALSE(ev.WaitFor(0));
    pollfd p{ev.Fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    EXPECT_TRUE(ev.Reset()); // resetting a clear event is harmless
    EXPECT_TRUE(ev.Set());
    EXPECT_EQ(poll(&p, 1, 0), 1);
}

TEST(EventHandle, InvalidHandleFailsEverything) {
    EventHandle none;
    EXPECT_FALSE(none.Valid());
    EXPECT_FALSE(none.Set());
    EXPECT_FALSE(none.Reset());
    EXPECT_FALSE(none.IsSet());
    EXPECT_FALSE(none.WaitFor(0));
    EXPECT_EQ(none.Fd(), -1);
}

TEST(EventHandle, WaitForTimesOutAndWakesOnSetFromAnotherThread) {
    EventHandle ev = EventHandle::Create();
    auto t0 = Clock::now();
    EXPECT_FALSE(ev.WaitFor(50));
    EXPECT_GE(ElapsedMs(t0), 45);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ev.Set();
    });
    EXPECT_TRUE(ev.WaitFor(-1));
    setter.join();
}

TEST(EventHandle, SameNameSharesOneEventWhileAnyHolderExists) {
    EventHandle a = EventHandle::Create(u"Global\\EventTestShared");
    EventHandle b = EventHandle::Create(u"Global\\EventTestShared");
    EventHandle other = EventHandle::Create(u"Global\\EventTestOther");
    ASSERT_TRUE(a.Valid() && b.Valid() && other.Valid());
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == other);
    a.Set();
    EXPECT_TRUE(b.IsSet());
    EXPECT_FALSE(other.IsSet());

    // Dropping one holder keeps the signalled state for the other and for new holders.
    a = EventHandle();
    EventHandle c = EventHandle::Create(u"Global\\EventTestShared");
    EXPECT_TRUE(c.IsSet());

    // Once every holder is gone, the name starts afresh, not signalled.
    b = EventHandle();
    c = EventHandle();
    EventHandle fresh = EventHandle::Create(u"Global\\EventTestShared");
    ASSERT_TRUE(fresh.Valid());
    EXPECT_FALSE(fresh.IsSet());
}

TEST(EventHandle, UnnamedEventsArePrivate) {
    EventHandle a = EventHandle::Create();
    EventHandle b = EventHandle::Create(u"");
    EXPECT_FALSE(a == b);
    a.Set();
    EXPECT_FALSE(b.IsSet());
}

TEST(EventHandle, ConcurrentCreationOfOneNameYieldsOneEvent) {
    constexpr int kThreads = 8;
    std::vector<EventHandle> handles(kThreads * 50);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                // Create and drop repeatedly so creation races with the last holder's exit.
                EventHandle tmp = EventHandle::Create(u"EventTestRace");
                handles[t * 50 + i] = EventHandle::Create(u"EventTestRace");
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (auto& h : handles) {
        ASSERT_TRUE(h.Valid());
        EXPECT_TRUE(h == handles[0]);
    }
}

TEST(WaitFd, ReadyTimeoutAndBadDescriptor) {
    SocketPair sp;
    EXPECT_EQ(WaitFd(sp.fd[0], POLLIN, 0), WaitResult::Timeout);
    EXPECT_EQ(WaitFd(sp.fd[0], POLLOUT, 0), WaitResult::Ready);
    ASSERT_EQ(write(sp.fd[1], "x", 1), 1);
    EXPECT_EQ(WaitFd(sp.fd[0], POLLIN, -1), WaitResult::Ready);
    // A negative descriptor must not become an endless wait.
    EXPECT_EQ(WaitFd(-1, POLLIN, 200), WaitResult::Error);
}

TEST(WaitFd, StopEventEndsABlockedReadFromAnotherThread) {
    SocketPair sp;
    EventHandle stop = EventHandle::Create();
    std::atomic<int> result{-1};
    std::thread worker([&] {
        SetThreadCancelEvent(stop);
        result = static_cast<int>(WaitFd(sp.fd[0], POLLIN, -1));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(result.load(), -1); // still blocked: nothing to read, no stop yet
    stop.Set();
    worker.join();
    EXPECT_EQ(result.load(), static_cast<int>(WaitResult::Cancelled));
}

TEST(WaitFd, CancellationWinsOverReadyDataAndOnlyAffectsItsThread) {
    SocketPair sp;
    ASSERT_EQ(write(sp.fd[1], "x", 1), 1);
    EventHandle stop = EventHandle::Create();
    stop.Set();
    WaitResult inWorker = WaitResult::Error;
    bool requested = false;
    std::thread worker([&] {
        SetThreadCancelEvent(stop);
        requested = ThreadCancelRequested();
        inWorker = WaitFd(sp.fd[0], POLLIN, 1000);
    });
    worker.join();
    EXPECT_TRUE(requested);
    EXPECT_EQ(inWorker, WaitResult::Cancelled);
    // This thread registered no cancel event: the same wait just sees the data.
    EXPECT_FALSE(ThreadCancelEvent().Valid());
    EXPECT_FALSE(ThreadCancelRequested());
    EXPECT_EQ(WaitFd(sp.fd[0], POLLIN, 1000), WaitResult::Ready);
}

TEST(CancellableSleep, FullTimeWithoutStopAndEarlyEndWithStop) {
    auto t0 = Clock::now();
    EXPECT_TRUE(CancellableSleep(40));
    EXPECT_GE(ElapsedMs(t0), 35);
    EXPECT_TRUE(CancellableSleep(0));
    EXPECT_TRUE(CancellableSleep(-5));

    EventHandle stop = EventHandle::Create();
    bool already = true, during = true, negative = false;
    long duringMs = -1;
    std::thread worker([&] {
        SetThreadCancelEvent(stop);
        EXPECT_TRUE(CancellableSleep(10)); // not stopped yet: sleeps its time
        // A negative time must return at once, not wait for a stop that may never come.
        negative = CancellableSleep(-1);
        auto s = Clock::now();
        during = CancellableSleep(60000);
        duringMs = ElapsedMs(s);
        already = CancellableSleep(60000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.Set();
    worker.join();
    EXPECT_TRUE(negative);
    EXPECT_FALSE(during);
    EXPECT_LT(duringMs, 30000);
    EXPECT_FALSE(already);
}
