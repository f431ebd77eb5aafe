#include "app/work_thread.h"

#include "base/log.h"

#include <chrono>
#include <system_error>

CWorkThread::CWorkThread(const std::u16string& eventName)
    : m_stopEvent(platform::EventHandle::Create(eventName)), m_eventName(eventName) {
    // A predecessor that was stopped but has not ended yet still holds the named event,
    // signalled: sharing it would end this worker before it began.
    if (m_stopEvent.IsSet())
        m_stopEvent = platform::EventHandle::CreateFresh(eventName);
}

CWorkThread::~CWorkThread() {
    StopAndJoin();
}

bool CWorkThread::Start() {
    std::lock_guard<std::mutex> lk(m_mu);
    if (m_started)
        return true;
    try {
        m_thread = std::thread(&CWorkThread::ThreadProc, this);
    } catch (const std::system_error&) {
        return false;
    }
    m_threadId = m_thread.get_id();
    m_started = true;
    return true;
}

bool CWorkThread::IsRunning() const {
    std::lock_guard<std::mutex> lk(m_mu);
    return m_started && !m_ended;
}

bool CWorkThread::GetExitCode(std::uint32_t* code) const {
    std::lock_guard<std::mutex> lk(m_mu);
    if (!m_started)
        return false;
    if (code)
        *code = m_ended ? m_exitCode : kStillActive;
    return true;
}

bool CWorkThread::Stop() {
    {
        std::lock_guard<std::mutex> lk(m_mu);
        if (!m_started || m_ended)
            return true;
    }
    if (!m_stopEvent.Valid() || !m_stopEvent.Set())
        return true; // nothing to signal: the thread runs to its own end
    std::unique_lock<std::mutex> lk(m_mu);
    if (m_endedCv.wait_for(lk, std::chrono::milliseconds(kStopWaitMs), [this] { return m_ended; }))
        return true;
    lk.unlock();
    LogError(u"Worker thread (%s) did not end within %d ms of the stop request",
             m_eventName.c_str(), kStopWaitMs);
    return false;
}

bool CWorkThread::Wait(int ms) {
    if (!m_stopEvent.Valid()) {
        // No stop event could be made: wait on a private one nobody signals, so a wait
        // without limit stays one.
        if (!m_privateEvent.Valid())
            m_privateEvent = platform::EventHandle::Create();
        if (!m_privateEvent.Valid())
            return true;
        return !m_privateEvent.WaitFor(ms);
    }
    return !m_stopEvent.WaitFor(ms);
}

void CWorkThread::StopAndJoin() {
    if (m_stopEvent.Valid())
        m_stopEvent.Set();
    if (m_thread.joinable())
        m_thread.join();
}

void CWorkThread::ThreadProc(CWorkThread* worker) {
    if (!worker)
        return;
    platform::SetThreadCancelEvent(worker->m_stopEvent);
    int result = -1;
    try {
        result = worker->Run(worker);
    } catch (...) {
        LogError(u"Worker thread (%s) ended by an exception", worker->m_eventName.c_str());
    }
    // An ended worker leaves its event signalled (see the header).
    if (worker->m_stopEvent.Valid())
        worker->m_stopEvent.Set();
    platform::SetThreadCancelEvent(platform::EventHandle());
    {
        std::lock_guard<std::mutex> lk(worker->m_mu);
        worker->m_exitCode = static_cast<std::uint32_t>(result);
        worker->m_ended = true;
    }
    worker->m_endedCv.notify_all();
}
