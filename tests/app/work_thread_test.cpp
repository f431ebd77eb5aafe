#include "app/work_thread.h"

#include "app_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// A worker whose job is a function, so each test writes only its job.
class FnWorker : public CWorkThread {
public:
    FnWorker(const std::u16string& name, std::function<int(CWorkThread*)> job)
        : CWorkThread(name), m_job(std::move(job)) {}
    ~FnWorker() override { StopAndJoin(); }
    std::atomic<int> runs{0};

protected:
    int Run(CWorkThread* worker) override {
        ++runs;
        return m_job(worker);
    }

private:
    std::function<int(CWorkThread*)> m_job;
};

// Waits (bounded) until the worker's thread has ended by itself.
bool WaitEnded(const CWorkThread& w) {
    for (int i = 0; i < 500 && w.IsRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !w.IsRunning();
}

class WorkThreadTest : public ::testing::Test {
protected:
    apptest::ProgramFolder folder;
};

} // namespace

TEST_F(WorkThreadTest, FreshWorkerHasNoThreadAndGoesOn) {
    FnWorker w(u"Global\\WtFresh", [](CWorkThread*) { return 0; });
    EXPECT_FALSE(w.IsRunning());
    std::uint32_t code = 1;
    EXPECT_FALSE(w.GetExitCode(&code));
    EXPECT_TRUE(w.Wait(0));
    auto t0 = Clock::now();
    EXPECT_TRUE(w.Stop()); // never started: nothing to wait for
    EXPECT_LT(ElapsedMs(t0), 200);
    EXPECT_EQ(w.runs.load(), 0);
}

TEST_F(WorkThreadTest, RunGetsTheWorkerAndItsResultBecomesTheExitCode) {
    CWorkThread* seen = nullptr;
    bool cancelRegistered = false;
    FnWorker w(u"", [&](CWorkThread* self) {
        seen = self;
        cancelRegistered = platform::ThreadCancelEvent() == self->StopEvent();
        return 42;
    });
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitEnded(w));
    EXPECT_EQ(seen, &w);
    EXPECT_TRUE(cancelRegistered);
    std::uint32_t code = 0;
    EXPECT_TRUE(w.GetExitCode(&code));
    EXPECT_EQ(code, 42u);
    // The run ends by itself and leaves the stop event signalled.
    EXPECT_TRUE(w.StopEvent().IsSet());
    EXPECT_FALSE(w.Wait(0));
    // A worker runs once.
    EXPECT_TRUE(w.Start());
    EXPECT_TRUE(WaitEnded(w));
    EXPECT_EQ(w.runs.load(), 1);
}

TEST_F(WorkThreadTest, StopOnAnEndedWorkerReturnsAtOnce) {
    FnWorker w(u"Global\\WtEnded", [](CWorkThread*) { return 0; });
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitEnded(w));
    auto t0 = Clock::now();
    EXPECT_TRUE(w.Stop());
    EXPECT_LT(ElapsedMs(t0), 200);
    EXPECT_EQ(folder.LogText(), ""); // no complaint
}

TEST_F(WorkThreadTest, PollingWorkerEndsWithinTheStopWait) {
    std::atomic<bool> started{false};
    FnWorker w(u"Global\\WtPoll", [&](CWorkThread* self) {
        started = true;
        int steps = 0;
        while (self->Wait(0)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // one step of work
            ++steps;
        }
        return 1000 + (steps > 0 ? 1 : 0);
    });
    ASSERT_TRUE(w.Start());
    while (!started)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_TRUE(w.IsRunning());
    std::uint32_t code = 0;
    EXPECT_TRUE(w.GetExitCode(&code));
    EXPECT_EQ(code, CWorkThread::kStillActive);

    EXPECT_TRUE(w.Stop());
    EXPECT_FALSE(w.IsRunning());
    EXPECT_TRUE(w.GetExitCode(&code));
    EXPECT_EQ(code, 1001u);
}

TEST_F(WorkThreadTest, WorkerBlockedInASocketReadIsCancelledByStop) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    std::atomic<bool> waiting{false};
    std::atomic<int> how{-1};
    FnWorker w(u"Global\\WtSocket", [&](CWorkThread*) {
        waiting = true;
        // No data ever comes and there is no time limit: only the stop can end this.
        how = static_cast<int>(platform::WaitFd(sv[0], POLLIN, -1));
        return 0;
    });
    ASSERT_TRUE(w.Start());
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(w.IsRunning());
    auto t0 = Clock::now();
    EXPECT_TRUE(w.Stop());
    EXPECT_LE(ElapsedMs(t0), 1100);
    EXPECT_EQ(how.load(), static_cast<int>(platform::WaitResult::Cancelled));
    close(sv[0]);
    close(sv[1]);
}

TEST_F(WorkThreadTest, SleepingWorkerIsCancelledByStop) {
    std::atomic<bool> slept{true};
    FnWorker w(u"Global\\WtSleep", [&](CWorkThread* self) {
        slept = platform::CancellableSleep(600000);
        return self->Wait(600000) ? 1 : 2; // the stop is still signalled: no wait
    });
    ASSERT_TRUE(w.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(w.Stop());
    EXPECT_FALSE(slept.load());
    std::uint32_t code = 0;
    w.GetExitCode(&code);
    EXPECT_EQ(code, 2u);
}

TEST_F(WorkThreadTest, WorkerStuckOutsideCancellableCallsIsNotKilled) {
    std::mutex mu;
    std::condition_variable cv;
    bool release = false;
    std::atomic<bool> finished{false};
    {
        FnWorker w(u"Global\\WtStuck", [&](CWorkThread*) {
            std::unique_lock<std::mutex> lk(mu);
            cv.wait(lk, [&] { return release; }); // deaf to the stop event
            finished = true;
            return 3;
        });
        ASSERT_TRUE(w.Start());
        auto t0 = Clock::now();
        EXPECT_FALSE(w.Stop());
        EXPECT_GE(ElapsedMs(t0), 950);
        EXPECT_TRUE(w.IsRunning());
        EXPECT_NE(folder.LogText().find("[ERROR] - Worker thread (Global\\WtStuck) did not end "
                                        "within 1000 ms of the stop request\r\n"),
                  std::string::npos)
            << folder.LogText();
        {
            std::lock_guard<std::mutex> lk(mu);
            release = true;
        }
        cv.notify_all();
        // Deleting the worker waits for its thread rather than freeing what it uses.
    }
    EXPECT_TRUE(finished.load());
}

TEST_F(WorkThreadTest, DeletingARunningWorkerEndsItFirst) {
    std::atomic<bool> finished{false};
    auto w = std::make_unique<FnWorker>(u"Global\\WtDelete", [&](CWorkThread* self) {
        while (self->Wait(10)) {
        }
        finished = true;
        return 0;
    });
    ASSERT_TRUE(w->Start());
    w.reset();
    EXPECT_TRUE(finished.load());
}

TEST_F(WorkThreadTest, AWorkerMadeWhileItsNameIsSignalledGetsItsOwnEvent) {
    auto first = std::make_unique<FnWorker>(u"Global\\WtShared", [](CWorkThread*) { return 0; });
    ASSERT_TRUE(first->Start());
    ASSERT_TRUE(WaitEnded(*first));
    {
        // A predecessor that was stopped (or ended) but still exists must not end it.
        FnWorker second(u"Global\\WtShared", [](CWorkThread*) { return 0; });
        EXPECT_TRUE(second.Wait(0));
        EXPECT_FALSE(first->Wait(0));
        FnWorker other(u"Global\\WtSharedNot", [](CWorkThread*) { return 0; });
        EXPECT_TRUE(other.Wait(0));
    }
    first.reset();
    FnWorker successor(u"Global\\WtShared", [](CWorkThread*) { return 0; });
    EXPECT_TRUE(successor.Wait(0));
}

TEST_F(WorkThreadTest, WaitTimesOutOrSeesTheStop) {
    std::atomic<long> waitedMs{-1};
    std::atomic<int> afterStop{-1};
    std::atomic<bool> go{false};
    FnWorker w(u"", [&](CWorkThread* self) {
        auto t0 = Clock::now();
        bool goOn = self->Wait(40);
        waitedMs = goOn ? ElapsedMs(t0) : -2;
        go = true;
        afterStop = self->Wait(-1) ? 1 : 0; // ends only by the stop
        return 0;
    });
    ASSERT_TRUE(w.Start());
    while (!go)
        std::this_thread::yield();
    EXPECT_GE(waitedMs.load(), 35);
    EXPECT_TRUE(w.Stop());
    EXPECT_EQ(afterStop.load(), 0);
}

TEST_F(WorkThreadTest, ExceptionInRunEndsTheThreadWithALogLine) {
    FnWorker w(u"Global\\WtThrow", [](CWorkThread*) -> int { throw std::runtime_error("x"); });
    ASSERT_TRUE(w.Start());
    ASSERT_TRUE(WaitEnded(w));
    std::uint32_t code = 0;
    EXPECT_TRUE(w.GetExitCode(&code));
    EXPECT_EQ(code, 0xFFFFFFFFu);
    EXPECT_NE(folder.LogText().find("Worker thread (Global\\WtThrow) ended by an exception"),
              std::string::npos);
}
