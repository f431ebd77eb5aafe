#include "upload/upload_thread.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "app/user_prefs.h"
#include "base/log.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_session.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr int kFirstBackoffMs = 1000;
// How long the transfer that met a lack of space waits for the others to stop.
constexpr int kOthersStopMs = 5000;

bool Runnable(const UploadTask& t) {
    return !t.gone && (t.state == TaskState::Waiting || t.state == TaskState::Again);
}

bool Unfinished(const UploadTask& t) {
    return !t.gone && t.state != TaskState::Uploaded && t.state != TaskState::Cancelled;
}

int TransfersAtOnce() {
    return std::clamp(prefs::Current().transfers, prefs::kMinTransfers, prefs::kMaxTransfers);
}

void SetState(UploadTask& t, TaskState s) {
    t.state = s;
    // The record's own status field, as the list's readers know it.
    switch (s) {
    case TaskState::Waiting:
        t.info.m_nStatus = 0;
        break;
    case TaskState::Paused:
    case TaskState::Failed:
        t.info.m_nStatus = 5;
        break;
    case TaskState::Uploaded:
    case TaskState::Cancelled:
        t.info.m_nStatus = 3;
        break;
    default:
        t.info.m_nStatus = 2;
        break;
    }
}

} // namespace

CUploadThread::CUploadThread(UploadSession& session)
    : CWorkThread(u"Global\\FileUploadThread"), m_session(session), m_view(session.m_view),
      m_gate(&TransfersAtOnce) {}

CUploadThread::~CUploadThread() {
    StopAndJoin();
}

int CUploadThread::Run(CWorkThread* /*worker*/) {
    // The end of each task is a journal record, not a rewrite of the whole list file; the
    // file is written whole when the queue goes quiet and when the run ends.
    UploadListJournalScope journal;
    int backoffMs = kFirstBackoffMs;
    while (true) {
        // Cleared before the pass looks at the queue: a task queued from here on wakes the
        // waits below, so none can be missed between the look and the wait.
        m_session.m_changed.Reset();
        bool finishedAny = false, failedAny = false;
        int r = Pass(finishedAny, failedAny);
        if (r != 1)
            return r;
        if (finishedAny)
            backoffMs = kFirstBackoffMs;

        bool runnable = false;
        {
            Guard g(m_session.m_lock);
            if (m_session.m_waiting.empty() && m_session.m_active.empty())
                return 0;
            runnable = !m_session.m_waiting.empty() ||
                       std::any_of(m_session.m_active.begin(), m_session.m_active.end(),
                                   [](const TaskRef& t) { return Runnable(*t); });
        }
        if (!Wait(0))
            return 0;

        // Every remaining task is paused or failed: wait for a command, a new task or a
        // stop instead of passing over them again and again.
        if (!runnable) {
            FlushUploadTaskList();
            if (platform::WaitFd(m_session.m_changed.Fd(), POLLIN, -1) !=
                platform::WaitResult::Ready)
                return 0;
            backoffMs = kFirstBackoffMs;
            continue;
        }
        // Only failures in this pass: wait before trying again, longer each time, so a
        // service that is down is not flooded. A change in the queue ends the wait.
        if (failedAny && !finishedAny) {
            FlushUploadTaskList();
            platform::WaitResult w = platform::WaitFd(m_session.m_changed.Fd(), POLLIN, backoffMs);
            if (w == platform::WaitResult::Cancelled || !Wait(0))
                return 0;
            if (w == platform::WaitResult::Ready)
                backoffMs = kFirstBackoffMs;
            else
                backoffMs = std::min(backoffMs * 2, kMaxBackoffMs);
        }
    }
}

int CUploadThread::Pass(bool& finishedAny, bool& failedAny) {
    // 1. Take the waiting tasks.
    std::vector<TaskRef> unlisted;
    PassState pass;
    {
        Guard g(m_session.m_lock);
        std::size_t moved = 0;
        for (; moved < m_session.m_waiting.size(); ++moved) {
            if (!Wait(0)) {
                // Stopped halfway: the tasks moved so far leave the waiting ones, or the
                // next worker would find them twice and send them twice.
                m_session.m_waiting.erase(m_session.m_waiting.begin(),
                                          m_session.m_waiting.begin() +
                                              static_cast<std::ptrdiff_t>(moved));
                return -1;
            }
            TaskRef& t = m_session.m_waiting[moved];
            if (t->info.m_bListed == 0) {
                t->info.m_bListed = 1;
                unlisted.push_back(t); // only these need a row
            }
            m_session.m_active.push_back(std::move(t));
        }
        m_session.m_waiting.clear();
        for (const TaskRef& t : m_session.m_active)
            if (Runnable(*t))
                pass.work.push_back(t);
    }
    for (const TaskRef& t : unlisted)
        m_view.AddUploadRow(t);
    unlisted.clear();

    // 2. Work on the runnable tasks in order, on as many threads as transfers may run, plus
    // as many again that digest and announce the next files while the others send. Each
    // thread holds the tasks it works on, so nothing it touches can go away under it.
    const int transfersAtOnce = TransfersAtOnce();
    // One transfer keeps the one-file-after-another order: nothing is worked ahead.
    const std::size_t threads = std::max<std::size_t>(
        1, std::min<std::size_t>(transfersAtOnce == 1 ? 1 : 2 * transfersAtOnce, pass.work.size()));
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (std::size_t h = 1; h < threads; ++h) {
        helpers.emplace_back([this, &pass] {
            // The helper ends with the worker's stop like the worker itself, and writes the
            // end of its tasks as journal records too.
            platform::SetThreadCancelEvent(StopEvent());
            UploadListJournalScope journal;
            WorkOnTasks(pass);
        });
    }
    WorkOnTasks(pass);
    for (std::thread& h : helpers)
        h.join();
    finishedAny = pass.finishedAny;
    failedAny = pass.failedAny;
    if (pass.end != 1)
        return pass.end;

    // 3. Drop the finished tasks.
    if (!Wait(0))
        return -1;
    Guard g(m_session.m_lock);
    std::erase_if(m_session.m_active, [](const TaskRef& t) { return !Unfinished(*t); });
    return 1;
}

void CUploadThread::WorkOnTasks(PassState& pass) {
    // This thread's abort: a pause or cancel of the task it works on ends every wait of the
    // attempt, an HTTP call's included.
    platform::EventHandle abort = platform::EventHandle::Create();
    platform::SetThreadAbortEvent(abort);
    while (true) {
        TaskRef task;
        {
            std::lock_guard<std::mutex> p(pass.lock);
            if (pass.end != 1 || pass.noSpace || pass.next >= pass.work.size())
                break;
            if (!Wait(0)) {
                pass.end = -1;
                break;
            }
            task = pass.work[pass.next++];
            Guard g(m_session.m_lock);
            if (!Runnable(*task))
                continue; // paused, cancelled or dropped since the pass began
            // Taken under the session's lock: a command from now on reaches this attempt
            // through the task's own flag and this thread's abort.
            abort.Reset();
            task->control = 0;
            task->busy = true;
            task->pauseWanted = false;
            task->abort = &abort;
            task->phase = transfers::Phase::Preparing;
            SetState(*task, TaskState::Preparing);
            ++pass.attempts;
        }
        transfers::TransferContext ctx;
        ctx.control = &task->control;
        ctx.gate = &m_gate;
        ctx.view = &m_view;
        ctx.phase = &task->phase;
        ctx.track = true;
        ctx.figures = UploadStats().Track(task->info.m_strFilePath);
        const int r = UploadOneFile(task->info, ctx);
        Finish(*task, r, pass);
        abort.Reset();
        {
            std::lock_guard<std::mutex> p(pass.lock);
            --pass.attempts;
        }
        pass.idle.notify_all();
        const int n = m_session.Pending();
        if (n >= 0)
            m_view.ShowQueueSummary(n);
    }
    platform::SetThreadAbortEvent(platform::EventHandle());
}

void CUploadThread::Finish(UploadTask& task, int r, PassState& pass) {
    enum class After { Nothing, Instant, Failed, NoSpace } after = After::Nothing;
    std::u16string path;
    const char16_t* failedText = kUnreadableFileText;
    {
        Guard g(m_session.m_lock);
        task.busy = false;
        task.abort = nullptr;
        const bool pauseWanted = task.pauseWanted;
        task.pauseWanted = false;
        task.control = 0;
        // Cancelled or dropped during the attempt: it counts nowhere any more.
        if (task.gone)
            return;
        path = task.info.m_strFilePath;
        switch (r) {
        case kUploadDone:
            SetState(task, TaskState::Uploaded);
            m_session.UncountLocked(task);
            UploadStats().Ended(path, TransferStats::End::Done);
            if (!m_session.m_options.keepFinished)
                m_session.UnindexLocked(task);
            pass.finishedAny = true;
            break;
        case kUploadInstant:
            SetState(task, TaskState::Uploaded);
            m_session.UncountLocked(task);
            UploadStats().Ended(path, TransferStats::End::Instant);
            if (!m_session.m_options.keepFinished)
                m_session.UnindexLocked(task);
            pass.finishedAny = true;
            after = After::Instant;
            break;
        case kUploadUnreadable:
        case kUploadRefused:
            // Kept in the list file and failed: a retry tries it again once the file is
            // back or the service takes it; until then it does not hold up the queue.
            SetState(task, TaskState::Failed);
            task.reason = r == kUploadRefused ? TaskReason::Refused : TaskReason::Unreadable;
            if (r == kUploadRefused)
                failedText = kRefusedFileText;
            UploadStats().Ended(path, TransferStats::End::Failed);
            after = After::Failed;
            break;
        case kUploadNoSpace:
            SetState(task, TaskState::Paused);
            task.reason = TaskReason::NoSpace;
            UploadStats().Ended(path, TransferStats::End::Paused);
            after = After::NoSpace;
            break;
        case kUploadPaused:
        default:
            // A pause that arrived during the attempt wins over "again"; a resume that came
            // after it makes the task go on at the next pass.
            if (pauseWanted) {
                SetState(task, TaskState::Paused);
                UploadStats().Ended(path, TransferStats::End::Paused);
            } else {
                SetState(task, TaskState::Again);
                UploadStats().Ended(path, TransferStats::End::Retry);
                if (r == kUploadPaused)
                    m_session.NotifyChanged();
                else
                    pass.failedAny = true;
            }
            break;
        }
    }
    switch (after) {
    case After::Instant:
        DeleteUploadTaskList(path);
        m_view.SetRowValue(path, 100);
        break;
    case After::Failed:
        m_view.ShowRowFailed(path, failedText);
        break;
    case After::NoSpace: {
        // Once per pass, whichever transfer meets it first.
        {
            std::lock_guard<std::mutex> p(pass.lock);
            if (pass.noSpace)
                break;
            pass.noSpace = true;
        }
        LogInfo(u"file [%s] was refused for lack of space; every upload is paused", path.c_str());
        OnNoSpace(pass);
        break;
    }
    case After::Nothing:
        break;
    }
}

void CUploadThread::OnNoSpace(PassState& pass) {
    // Every other attempt stops before the message opens: helpers digesting and announcing
    // the rest of a library would otherwise go on behind it.
    {
        Guard g(m_session.m_lock);
        for (const TaskRef& t : m_session.m_active)
            if (t->busy)
                m_session.PauseLocked(*t);
    }
    {
        std::unique_lock<std::mutex> p(pass.lock);
        // This thread is still counted as in its attempt.
        pass.idle.wait_for(p, std::chrono::milliseconds(kOthersStopMs),
                           [&] { return pass.attempts <= 1; });
    }
    m_view.ShowNoSpaceMessage();
    {
        Guard g(m_session.m_lock);
        for (std::size_t i = m_session.m_active.size(); i-- > 0;) {
            if (!Wait(0)) {
                std::lock_guard<std::mutex> p(pass.lock);
                pass.end = -1;
                return;
            }
            m_session.PauseLocked(*m_session.m_active[i]);
        }
        for (const TaskRef& t : m_session.m_waiting) {
            if (!Wait(0)) {
                std::lock_guard<std::mutex> p(pass.lock);
                pass.end = -1;
                return;
            }
            m_session.PauseLocked(*t);
        }
    }
    UploadStats().PauseAll();
    m_view.PostAllPaused();
}
