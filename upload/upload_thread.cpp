#include "upload/upload_thread.h"

#include <algorithm>
#include <vector>

#include "app/global_var.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

constexpr int kFirstBackoffMs = 1000;

bool Unfinished(const UpInfo& t) {
    return t.m_nStatus != kTaskDone && t.m_nStatus != kTaskPaused;
}

} // namespace

CUploadThread::CUploadThread(UploadQueue& queue, IUploadView& view)
    : CWorkThread(u"Global\\FileUploadThread"), m_queue(queue), m_view(view) {}

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
        for (const UpInfo& t : m_queue.waiting) {
            if (!Wait(0))
                return -1;
            m_queue.active.push_back(t);
            taken.push_back(t);
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

    // 2. Work on the active tasks in order. Only this thread changes the sequence, so
    // its size and the task's place stay put while the lock is released.
    std::size_t count;
    {
        Guard g(m_queue.Lock());
        count = m_queue.active.size();
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!Wait(0))
            return -1;
        UpInfo* task;
        {
            Guard g(m_queue.Lock());
            TakeLateControl();
            task = &m_queue.active[i];
            if (task->m_nStatus == kTaskDone || task->m_nStatus == kTaskPaused)
                continue;
            CGlobalVar::m_strCurUploadPath = task->m_strFilePath;
        }
        int r = UploadOneFile(*task, &m_view);
        switch (r) {
        case kUploadDone: {
            Guard g(m_queue.Lock());
            task->m_nStatus = kTaskDone;
            --m_queue.activeCount;
            finishedAny = true;
            break;
        }
        case kUploadInstant: {
            {
                Guard g(m_queue.Lock());
                task->m_nStatus = kTaskDone;
            }
            DeleteUploadTaskList(task->m_strFilePath);
            {
                Guard g(m_queue.Lock());
                --m_queue.activeCount;
            }
            m_view.SetRowValue(task->m_strFilePath, 100);
            finishedAny = true;
            break;
        }
        case kUploadPaused: {
            Guard g(m_queue.Lock());
            task->m_nStatus = kTaskPaused;
            break;
        }
        case kUploadUnreadable: {
            // Kept in the list file and paused: a resume tries it again once the file is
            // back; until then it does not hold up the queue.
            {
                Guard g(m_queue.Lock());
                task->m_nStatus = kTaskPaused;
            }
            m_view.ShowRowFailed(task->m_strFilePath, kUnreadableFileText);
            break;
        }
        case kUploadNoSpace: {
            {
                Guard g(m_queue.Lock());
                task->m_nStatus = kTaskPaused;
            }
            int end = 1;
            OnNoSpace(end);
            if (end != 1)
                return end;
            break;
        }
        default: {
            Guard g(m_queue.Lock());
            // A pause or cancel that arrived during the attempt wins over "again".
            if (Unfinished(*task))
                task->m_nStatus = kTaskRetry;
            failedAny = true;
            break;
        }
        }
        UploadStats().Ended(task->m_strFilePath, TransferStats::EndOfResult(r));
        int n = m_queue.Pending();
        if (n >= 0)
            m_view.ShowQueueSummary(n);
        // The file is no longer being worked on: a command that arrived too late for the
        // attempt applies to its task now, and later commands for it go the waiting
        // tasks' way instead of stopping whatever file comes next.
        {
            Guard g(m_queue.Lock());
            TakeLateControl();
            CGlobalVar::m_strCurUploadPath.clear();
        }
    }

    // 3. Drop the finished tasks.
    for (std::size_t i = count; i-- > 0;) {
        if (!Wait(0))
            return -1;
        Guard g(m_queue.Lock());
        if (m_queue.active[i].m_nStatus == kTaskDone)
            m_queue.active.erase(m_queue.active.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return 1;
}

void CUploadThread::TakeLateControl() {
    // The window sets the flag for the file named by the current-upload path, under the
    // queue lock. A flag still set here arrived after that file's transfer had ended: it
    // must not stop the file that starts next. It still applies to its own file when that
    // one waits for another attempt.
    const int flag = CGlobalVar::m_nUploadCtrl.exchange(0);
    if (flag != 1 && flag != 2)
        return;
    const std::u16string& path = CGlobalVar::m_strCurUploadPath;
    if (path.empty())
        return;
    for (UpInfo& t : m_queue.active) {
        if (!SameListKey(t.m_strFilePath, path))
            continue;
        if (!Unfinished(t))
            return;
        if (flag == 2) {
            t.m_nStatus = kTaskPaused;
        } else {
            // Cancelled: the list already dropped its row and its list-file element.
            t.m_nStatus = kTaskDone;
            --m_queue.activeCount;
        }
        return;
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
