#include "upload/upload_thread.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "upload/transfer_control.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr int kFirstBackoffMs = 1000;

bool Unfinished(const UpInfo& t) {
    return t.m_nStatus != kTaskDone && t.m_nStatus != kTaskPaused;
}

int TransfersAtOnce() {
    return std::clamp(prefs::Current().transfers, prefs::kMinTransfers, prefs::kMaxTransfers);
}

} // namespace

CUploadThread::CUploadThread(UploadQueue& queue, IUploadView& view)
    : CWorkThread(u"Global\\FileUploadThread"), m_queue(queue), m_view(view),
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
        m_queue.ClearChanged();
        bool finishedAny = false, failedAny = false;
        int r = Pass(finishedAny, failedAny);
        if (r != 1)
            return r;
        if (finishedAny)
            backoffMs = kFirstBackoffMs;

        bool runnable = false;
        {
            Guard g(m_queue.Lock());
            if (m_queue.waiting.empty() && m_queue.active.empty()) {
                m_queue.activeCount = 0;
                return 0;
            }
            runnable = !m_queue.waiting.empty() ||
                       std::any_of(m_queue.active.begin(), m_queue.active.end(), Unfinished);
        }
        if (!Wait(0))
            return 0;

        // Every remaining task is paused: wait for a resume, a new task or a stop
        // instead of passing over them again and again.
        if (!runnable) {
            FlushUploadTaskList();
            if (m_queue.WaitForChange(-1) != platform::WaitResult::Ready)
                return 0;
            backoffMs = kFirstBackoffMs;
            continue;
        }
        // Only failures in this pass: wait before trying again, longer each time, so a
        // service that is down is not flooded. A change in the queue ends the wait.
        if (failedAny && !finishedAny) {
            FlushUploadTaskList();
            platform::WaitResult w = m_queue.WaitForChange(backoffMs);
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
    std::vector<UpInfo> taken;
    {
        Guard g(m_queue.Lock());
        std::size_t moved = 0;
        for (; moved < m_queue.waiting.size(); ++moved) {
            if (!Wait(0)) {
                // Stopped halfway: the tasks moved so far leave the waiting ones, or the
                // next worker would find them twice and send them twice.
                m_queue.waiting.erase(m_queue.waiting.begin(),
                                      m_queue.waiting.begin() + static_cast<std::ptrdiff_t>(moved));
                return -1;
            }
            UpInfo& t = m_queue.waiting[moved];
            if (t.m_bListed == 0)
                taken.push_back(t); // only these need a row; a library is not copied
            m_queue.active.push_back(std::move(t));
        }
        m_queue.waiting.clear();
        // Tasks cancelled since the last pass were already subtracted by the window.
        m_queue.activeCount = static_cast<int>(
            std::count_if(m_queue.active.begin(), m_queue.active.end(),
                          [](const UpInfo& t) { return t.m_nStatus != kTaskDone; }));
    }
    for (const UpInfo& t : taken)
        if (t.m_bListed == 0)
            m_view.AddUploadRow(t);
    taken.clear();

    // 2. Work on the active tasks in order, on as many threads as transfers may run, plus
    // as many again that digest and announce the next files while the others send. Only
    // this pass changes the sequence, and only after every thread has ended, so a task's
    // place stays put while the lock is released (a deque keeps its elements in place when
    // the window appends).
    PassState pass;
    std::size_t unfinished = 0;
    {
        Guard g(m_queue.Lock());
        pass.count = m_queue.active.size();
        unfinished = static_cast<std::size_t>(
            std::count_if(m_queue.active.begin(), m_queue.active.end(), Unfinished));
    }
    const int transfersAtOnce = TransfersAtOnce();
    // One transfer keeps the one-file-after-another order: nothing is worked ahead.
    const std::size_t threads = std::max<std::size_t>(
        1, std::min<std::size_t>(transfersAtOnce == 1 ? 1 : 2 * transfersAtOnce, unfinished));
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
    for (std::size_t i = pass.count; i-- > 0;) {
        if (!Wait(0))
            return -1;
        Guard g(m_queue.Lock());
        if (m_queue.active[i].m_nStatus == kTaskDone)
            m_queue.active.erase(m_queue.active.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return 1;
}

void CUploadThread::WorkOnTasks(PassState& pass) {
    transfers::GateScope gate(&m_gate);
    while (true) {
        UpInfo* task = nullptr;
        {
            std::lock_guard<std::mutex> p(pass.lock);
            if (pass.end != 1 || pass.next >= pass.count)
                return;
            if (!Wait(0)) {
                pass.end = -1;
                return;
            }
            Guard g(m_queue.Lock());
            task = &m_queue.active[pass.next++];
            if (!Unfinished(*task))
                continue;
            // The path of the file most recently taken, for those who show it.
            CGlobalVar::m_strCurUploadPath = task->m_strFilePath;
        }
        transfers::TransferScope transfer(task->m_strFilePath);
        const int r = UploadOneFile(*task, &m_view);
        Finish(*task, r, pass);
        UploadStats().Ended(task->m_strFilePath, TransferStats::EndOfResult(r));
        int n = m_queue.Pending();
        if (n >= 0)
            m_view.ShowQueueSummary(n);
        // The file is no longer being worked on: a command that arrived too late for the
        // attempt applies to its task now, and later commands for it go the waiting tasks'
        // way.
        const int late = transfer.Release();
        Guard g(m_queue.Lock());
        ApplyLateControl(*task, late);
        if (SameListKey(CGlobalVar::m_strCurUploadPath, task->m_strFilePath))
            CGlobalVar::m_strCurUploadPath.clear();
    }
}

void CUploadThread::Finish(UpInfo& task, int r, PassState& pass) {
    switch (r) {
    case kUploadDone: {
        Guard g(m_queue.Lock());
        task.m_nStatus = kTaskDone;
        --m_queue.activeCount;
        pass.finishedAny = true;
        break;
    }
    case kUploadInstant: {
        {
            Guard g(m_queue.Lock());
            task.m_nStatus = kTaskDone;
        }
        DeleteUploadTaskList(task.m_strFilePath);
        {
            Guard g(m_queue.Lock());
            --m_queue.activeCount;
        }
        m_view.SetRowValue(task.m_strFilePath, 100);
        pass.finishedAny = true;
        break;
    }
    case kUploadPaused: {
        Guard g(m_queue.Lock());
        task.m_nStatus = kTaskPaused;
        break;
    }
    case kUploadUnreadable: {
        // Kept in the list file and paused: a resume tries it again once the file is
        // back; until then it does not hold up the queue.
        {
            Guard g(m_queue.Lock());
            task.m_nStatus = kTaskPaused;
        }
        m_view.ShowRowFailed(task.m_strFilePath, kUnreadableFileText);
        break;
    }
    case kUploadNoSpace: {
        {
            Guard g(m_queue.Lock());
            task.m_nStatus = kTaskPaused;
        }
        // Once per pass, whichever transfer meets it first: every other file being worked
        // on stops too, and the user sees one message.
        {
            std::lock_guard<std::mutex> p(pass.lock);
            if (pass.noSpace)
                break;
            pass.noSpace = true;
        }
        transfers::CommandAll(2);
        int end = 1;
        OnNoSpace(end);
        if (end != 1) {
            std::lock_guard<std::mutex> p(pass.lock);
            pass.end = end;
        }
        break;
    }
    default: {
        Guard g(m_queue.Lock());
        // A pause or cancel that arrived during the attempt wins over "again".
        if (Unfinished(task))
            task.m_nStatus = kTaskRetry;
        pass.failedAny = true;
        break;
    }
    }
}

void CUploadThread::ApplyLateControl(UpInfo& t, int flag) {
    // Under the queue lock. A flag still set arrived after the file's attempt had ended; it
    // applies to its own file when that one waits for another attempt.
    if ((flag != 1 && flag != 2) || !Unfinished(t))
        return;
    if (flag == 2) {
        t.m_nStatus = kTaskPaused;
    } else {
        // Cancelled: the list already dropped its row and its list-file element.
        t.m_nStatus = kTaskDone;
        --m_queue.activeCount;
    }
}

void CUploadThread::OnNoSpace(int& endResult) {
    m_view.ShowNoSpaceMessage();
    {
        Guard g(m_queue.Lock());
        for (std::size_t i = m_queue.active.size(); i-- > 0;) {
            if (!Wait(0)) {
                endResult = -1;
                return;
            }
            if (Unfinished(m_queue.active[i]))
                m_queue.active[i].m_nStatus = kTaskPaused;
        }
        for (UpInfo& t : m_queue.waiting) {
            if (!Wait(0)) {
                endResult = -1;
                return;
            }
            if (Unfinished(t))
                t.m_nStatus = kTaskPaused;
        }
    }
    m_view.PostAllPaused();
}
