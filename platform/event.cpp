#include "platform/event.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

struct EventState {
    int fd = -1;
    std::mutex mu;
    bool signalled = false;
    std::u16string name;
    ~EventState();
};

namespace {

std::mutex g_namesMu;
// Named events stay shared while any handle holds them: the registry keeps weak references.
std::map<std::u16string, std::weak_ptr<EventState>>& Names() {
    static auto* names = new std::map<std::u16string, std::weak_ptr<EventState>>();
    return *names;
}

thread_local EventHandle t_cancel;
thread_local EventHandle t_abort;

} // namespace

EventState::~EventState() {
    if (fd >= 0)
        close(fd);
    if (!name.empty()) {
        std::lock_guard<std::mutex> lk(g_namesMu);
        auto it = Names().find(name);
        if (it != Names().end() && it->second.expired())
            Names().erase(it);
    }
}

EventHandle EventHandle::CreateFresh(std::u16string_view name) {
    if (!name.empty()) {
        std::lock_guard<std::mutex> lk(g_namesMu);
        Names().erase(std::u16string(name));
    }
    return Create(name);
}

EventHandle EventHandle::Create(std::u16string_view name) {
    EventHandle h;
    std::unique_lock<std::mutex> lk(g_namesMu, std::defer_lock);
    if (!name.empty()) {
        lk.lock();
        auto it = Names().find(std::u16string(name));
        if (it != Names().end()) {
            if (auto existing = it->second.lock()) {
                h.m_state = existing;
                return h;
            }
        }
    }
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return h;
    auto st = std::make_shared<EventState>();
    st->fd = fd;
    st->name = std::u16string(name);
    if (!name.empty())
        Names()[st->name] = st;
    h.m_state = std::move(st);
    return h;
}

bool EventHandle::Set() {
    if (!m_state)
        return false;
    std::lock_guard<std::mutex> lk(m_state->mu);
    if (!m_state->signalled) {
        uint64_t one = 1;
        if (write(m_state->fd, &one, sizeof one) != sizeof one)
            return false;
        m_state->signalled = true;
    }
    return true;
}

bool EventHandle::Reset() {
    if (!m_state)
        return false;
    std::lock_guard<std::mutex> lk(m_state->mu);
    if (m_state->signalled) {
        uint64_t v = 0;
        if (read(m_state->fd, &v, sizeof v) != sizeof v && errno != EAGAIN)
            return false;
        m_state->signalled = false;
    }
    return true;
}

bool EventHandle::IsSet() const {
    if (!m_state)
        return false;
    std::lock_guard<std::mutex> lk(m_state->mu);
    return m_state->signalled;
}

bool EventHandle::WaitFor(int ms) const {
    if (!m_state)
        return false;
    pollfd p{m_state->fd, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int left = -1;
        if (ms >= 0) {
            auto d = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            left = d.count() < 0 ? 0 : static_cast<int>(d.count());
        }
        int r = poll(&p, 1, left);
        if (r > 0)
            return true;
        if (r == 0)
            return false;
        if (errno != EINTR)
            return false;
    }
}

int EventHandle::Fd() const {
    return m_state ? m_state->fd : -1;
}

void SetThreadCancelEvent(const EventHandle& ev) {
    t_cancel = ev;
}
const EventHandle& ThreadCancelEvent() {
    return t_cancel;
}
bool ThreadCancelRequested() {
    return t_cancel.IsSet() || t_abort.IsSet();
}
void SetThreadAbortEvent(const EventHandle& ev) {
    t_abort = ev;
}
bool ThreadAbortRequested() {
    return t_abort.IsSet();
}

WaitResult WaitFd(int fd, short events, int ms) {
    // poll() skips negative descriptors, which would turn a bad descriptor into a wait that
    // only a timeout or a stop ends.
    if (fd < 0)
        return WaitResult::Error;
    pollfd p[3] = {{fd, events, 0}, {t_cancel.Fd(), POLLIN, 0}, {t_abort.Fd(), POLLIN, 0}};
    nfds_t n = 3;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        int left = -1;
        if (ms >= 0) {
            auto d = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            left = d.count() < 0 ? 0 : static_cast<int>(d.count());
        }
        p[0].revents = p[1].revents = p[2].revents = 0;
        int r = poll(p, n, left); // poll skips the -1 of an absent event
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Error;
        }
        if ((p[1].revents & POLLIN) || (p[2].revents & POLLIN))
            return WaitResult::Cancelled;
        if (r == 0)
            return WaitResult::Timeout;
        if (p[0].revents & POLLNVAL)
            return WaitResult::Error;
        return WaitResult::Ready; // readable, writable, hung up or in error: the caller's I/O tells
    }
}

bool CancellableSleep(int ms) {
    // A negative time sleeps not at all, with or without a cancel event (WaitFor would take
    // it as "without limit").
    if (ms < 0)
        ms = 0;
    if (t_abort.Valid()) {
        pollfd p[2] = {{t_cancel.Fd(), POLLIN, 0}, {t_abort.Fd(), POLLIN, 0}};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            const int left = static_cast<int>(
                std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now())
                                           .count()));
            p[0].revents = p[1].revents = 0;
            const int r = poll(p, 2, left);
            if (r > 0)
                return false;
            if (r == 0)
                return true;
            if (errno != EINTR)
                return true;
        }
    }
    if (!t_cancel.Valid()) {
        pollfd none{};
        int left = ms;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (left > 0) {
            poll(&none, 0, left);
            left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        }
        return true;
    }
    return !t_cancel.WaitFor(ms);
}

} // namespace platform
