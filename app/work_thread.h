// The base of every background worker: one thread, one stop event, one run.
//
// Cancellation: the stop event is a manual-reset platform::EventHandle created under the
// worker's name. The thread procedure registers it as the thread's cancel event
// (platform::SetThreadCancelEvent), so every blocking call the worker makes through
// platform::WaitFd or platform::CancellableSleep (socket connects, sends, receives, retry
// pauses) returns as soon as Stop signals it. Workers also poll Wait(0) between steps.
// No thread is ever killed.
//
// Lifetime: the object must outlive its thread, because Run works on it. Two rules keep
// that true:
//  - Stop() returns true only once the thread has ended. When it returns false (the thread
//    is stuck in a call that is not cancellable) the owner keeps the object and may call
//    Stop again later; it must not free anything the thread uses.
//  - Deleting a worker signals its stop event and joins the thread, so deleting a worker
//    that still runs waits for it instead of pulling the object away under it. A concrete
//    worker whose Run uses its own members must call StopAndJoin() first thing in its own
//    destructor, since those members are gone by the time this base destructor runs.
//
// Named events: all workers created with one name share one event for as long as any of
// them exists. A worker that ended leaves it signalled, so the owner deletes an ended
// worker before it makes its successor, which then starts with a fresh event. A worker made
// while the named event is signalled (a stopped predecessor still ending) gets an event of
// its own under the name, so the successor runs.
//
// Start, Stop, IsRunning and deletion belong to the owning (user-interface) thread; Wait
// belongs to the worker's own thread.
#pragma once

#include "platform/event.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class CWorkThread {
public:
    // The exit code of a thread that has not ended yet.
    static constexpr std::uint32_t kStillActive = 259;
    // How long Stop waits for the thread to end.
    static constexpr int kStopWaitMs = 1000;

    // Creates the stop event under `eventName` (empty: a private event). If that fails the
    // worker runs without one: Wait then only sleeps and Stop cannot end the thread.
    explicit CWorkThread(const std::u16string& eventName);
    virtual ~CWorkThread();
    CWorkThread(const CWorkThread&) = delete;
    CWorkThread& operator=(const CWorkThread&) = delete;

    // Creates the thread if there is none yet. True when the worker has a thread; a second
    // Start, even after the run ended, changes nothing (a worker runs once).
    bool Start();

    // True while the thread has been started and has not ended.
    bool IsRunning() const;

    // Ends the thread: signals the stop event and waits up to kStopWaitMs for it. True when
    // nothing runs any more (at once for a worker that never started or already ended, or
    // one without a stop event). False, with an error line in the log, when the thread is
    // still running after the wait; it is not killed (see the lifetime rules above).
    bool Stop();

    // For the worker's own thread: waits up to `ms` milliseconds (negative: without
    // limit) for a stop. False ("stop") when the stop event is signalled, true ("go on")
    // otherwise. Wait(0) is a non-blocking poll.
    virtual bool Wait(int ms);

    // The thread's exit code: kStillActive while it runs, then Run's result. False
    // without a thread.
    bool GetExitCode(std::uint32_t* code) const;

    const platform::EventHandle& StopEvent() const { return m_stopEvent; }
    std::thread::id ThreadId() const { return m_threadId; }

protected:
    // The job. `worker` is this object; the result becomes the thread's exit code.
    virtual int Run(CWorkThread* worker) = 0;

    // Signals the stop event and waits, without limit, for the thread to end. Safe to call
    // more than once and on a worker that never started.
    void StopAndJoin();

private:
    static void ThreadProc(CWorkThread* worker);

    platform::EventHandle m_stopEvent;
    platform::EventHandle m_privateEvent; // Wait's, when there is no stop event
    std::u16string m_eventName;
    std::thread m_thread;
    std::thread::id m_threadId;

    mutable std::mutex m_mu;
    std::condition_variable m_endedCv;
    bool m_started = false;
    bool m_ended = false;
    std::uint32_t m_exitCode = kStillActive;
};
