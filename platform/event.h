// Manual-reset events and the cancellation of blocking calls.
//
// An event is readable through an eventfd while it is signalled, so every blocking
// call of a thread (socket waits, connects, sleeps) can poll its own descriptor together
// with the thread's stop event and return as soon as a stop is requested. Nothing is
// ever killed: a stop ends a worker by making its next wait return.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct EventState;

// A manual-reset event, initially not signalled. Handles created with the same
// non-empty name share one state for as long as any handle to it exists (the way a
// named kernel event lives while a handle is open); an empty name gives a private event.
class EventHandle {
public:
    EventHandle() = default;
    static EventHandle Create(std::u16string_view name = {});
    // A new event under `name` even while older handles of that name live on: they keep their
    // own state (a worker that outlived its stop must not stop its successor).
    static EventHandle CreateFresh(std::u16string_view name);

    bool Valid() const { return m_state != nullptr; }
    bool Set();
    bool Reset();
    bool IsSet() const;
    // Waits up to `ms` milliseconds (negative: without limit); true when signalled.
    bool WaitFor(int ms) const;
    // A descriptor that polls readable while the event is signalled; -1 when invalid.
    int Fd() const;

    bool operator==(const EventHandle& o) const { return m_state == o.m_state; }

private:
    std::shared_ptr<EventState> m_state;
};

// The event that ends the blocking calls of the calling thread (a worker's stop event).
// Threads without one (the user-interface thread) are never cancelled.
void SetThreadCancelEvent(const EventHandle& ev);
const EventHandle& ThreadCancelEvent();
bool ThreadCancelRequested();

// A second event that ends the blocking calls of the calling thread: the abort of the one
// operation the thread works on (an upload's pause or cancel), while the thread itself goes
// on. WaitFd, CancellableSleep and ThreadCancelRequested treat it as the cancel event.
void SetThreadAbortEvent(const EventHandle& ev);
bool ThreadAbortRequested();

enum class WaitResult { Ready, Timeout, Cancelled, Error };

// Polls `fd` for `events` (POLLIN, POLLOUT) up to `ms` milliseconds (negative: no limit),
// returning Cancelled as soon as the thread's cancel event is signalled; Error for a
// negative descriptor.
WaitResult WaitFd(int fd, short events, int ms);

// Sleeps `ms` milliseconds (negative: not at all) unless the thread's cancel event is
// signalled first; true when the full time passed, false when cancelled.
bool CancellableSleep(int ms);

} // namespace platform
