// The upload queue of the main window: the messages of the upload list and the transfer,
// loading the saved queue, the upload worker and the window side of its interface.
#include "ui/mainframe/main_frame.h"

#include "app/global_var.h"
#include "base/log.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/ui_thread_call.h"
#include "ui/messages.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_control.h"
#include "upload/transfer_control.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"

#include <QPointer>

#include <iterator>
#include <system_error>
#include <thread>

namespace {

using QueueGuard = std::lock_guard<std::recursive_mutex>;

// The first task with this path; null when there is none.
UpInfo* FindTask(std::deque<UpInfo>& tasks, const std::u16string& fullPath) {
    for (UpInfo& t : tasks) {
        if (SameListKey(t.m_strFilePath, fullPath)) {
            return &t;
        }
    }
    return nullptr;
}

} // namespace

int CMainFrame::PendingTaskCount() {
    return m_queue.Pending();
}

void CMainFrame::ShowQueueSummary(int n) {
    const QueueSummary texts = QueueSummaryTexts(n);
    if (m_pCopyrightText) {
        if (n <= 0) {
            m_bProgressShown = false;
        }
        m_pCopyrightText->SetText(QueueLineText(n));
        m_pCopyrightText->Redraw();
    }
    if (m_pTabUploadFile) {
        m_pTabUploadFile->SetText(texts.tabText);
        m_pTabUploadFile->Redraw();
    }
}

void CMainFrame::AddUploadRow(const UpInfo& task) {
    QPointer<CListCtrlEx> list(m_pUploadList);
    PostToUiThread(this, [list, task]() {
        if (list) {
            list->AddTaskRow(task);
        }
    });
}

void CMainFrame::SetRowValue(const std::u16string& fullPath, int value) {
    QPointer<CListCtrlEx> list(m_pUploadList);
    PostToUiThread(this, [list, fullPath, value]() {
        if (list) {
            list->Model()->SetValueForPath(fullPath, value);
        }
    });
}

void CMainFrame::ShowNoSpaceMessage() {
    QPointer<CMainFrame> self(this);
    CallOnUiThreadAndWait(this, [self]() {
        if (self) {
            ShowMessageBox(self.data(), kNoSpaceMessage, 1);
        }
    });
}

void CMainFrame::PostProgress(int percent, const std::u16string& fullPath) {
    ui::PostAppMessage(
        this, std::make_unique<ui::AppMessage>(ui::kMsgUploadProgress, percent, 0, fullPath));
}

void CMainFrame::ShowRowFailed(const std::u16string& fullPath, const std::u16string& text) {
    QPointer<CListCtrlEx> list(m_pUploadList);
    PostToUiThread(this, [list, fullPath, text]() {
        if (list) {
            list->Model()->SetFailedForPath(fullPath, text);
        }
    });
}

void CMainFrame::PostAllPaused() {
    UploadStats().PauseAll();
    ui::PostAppMessage(m_pUploadList, std::make_unique<ui::AppMessage>(ui::kMsgPauseAllRows));
}

void CMainFrame::OnUploadProgress(int percent, const std::u16string& fullPath) {
    if (!m_pUploadList || fullPath.empty()) {
        return;
    }
    QueueGuard lock(m_queue.Lock());
    m_pUploadList->Model()->SetValueForPath(fullPath, percent);
}

bool CMainFrame::OnRemoveWaitingTask(const std::u16string& fullPath) {
    // Waiting: leaves the queue; taken by the worker: marked done and no longer counted.
    if (!m_queue.CancelQueued(fullPath)) {
        return false;
    }
    UploadStats().Ended(fullPath, TransferStats::End::Removed);
    ShowQueueSummary(PendingTaskCount());
    return true;
}

void CMainFrame::OnResumeTask(const std::u16string& fullPath) {
    if (fullPath.empty()) {
        return;
    }
    {
        QueueGuard lock(m_queue.Lock());
        UpInfo* task = FindTask(m_queue.waiting, fullPath);
        if (!task) {
            task = FindTask(m_queue.active, fullPath);
        }
        if (task && task->m_nStatus != kTaskDone) {
            task->m_nStatus = kTaskRetry;
            UploadStats().Queued(task->m_strFilePath, static_cast<uint64_t>(task->m_nFileLen));
        }
    }
    m_queue.NotifyChanged();
    EnsureUploadWorker();
}

void CMainFrame::OnPauseTask(const std::u16string& fullPath) {
    {
        QueueGuard lock(m_queue.Lock());
        if (transfers::Command(fullPath, 2)) {
            // The transfer working on it stops and the worker marks its task paused.
            return;
        }
        if (UpInfo* task = FindTask(m_queue.waiting, fullPath)) {
            task->m_nStatus = kTaskPaused;
            UploadStats().Ended(fullPath, TransferStats::End::Paused);
            return;
        }
        if (UpInfo* active = FindTask(m_queue.active, fullPath)) {
            if (active->m_nStatus != kTaskDone) {
                active->m_nStatus = kTaskPaused;
                UploadStats().Ended(fullPath, TransferStats::End::Paused);
            }
        }
    }
}

void CMainFrame::EnsureUploadWorker() {
    if (m_pUploadThread && m_pUploadThread->IsRunning()) {
        return;
    }
    // An ended worker leaves its named stop event signalled: delete it before its successor.
    m_pUploadThread.reset();
    ReapStoppedWorkers();
    m_pUploadThread = std::make_unique<CUploadThread>(m_queue, *this);
    if (!m_pUploadThread->Start()) {
        LogError(u"Failed to start the upload thread.");
    }
}

void CMainFrame::TellListSetAside() {
    const std::u16string aside = TakeSetAsideUploadList();
    if (aside.empty()) {
        return;
    }
    // Once the window is up: the box belongs over it, not before it.
    QPointer<CMainFrame> self(this);
    PostToUiThread(this, [self, aside]() {
        if (self) {
            ShowMessageBox(self.data(),
                           u"上传列表文件无法读取，已另存为 " + aside + u" ，上传队列从空开始。",
                           1);
        }
    });
}

void CMainFrame::LoadUpLoadTaskList() {
    const std::u16string& path = CGlobalVar::m_strUploadListPath;
    platform::FileAttributes attrs;
    if (path.empty() || !platform::GetFileAttributesEx(path, attrs)) {
        return;
    }
    std::vector<UpInfo> tasks;
    if (!ReadUploadTaskList(tasks)) {
        LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
        TellListSetAside();
        return;
    }
    if (tasks.empty()) {
        return;
    }
    for (UpInfo& task : tasks) {
        task.m_bListed = 1;
    }
    // A saved queue of a whole library: the figures learn the tasks on a thread while the
    // rows are made; both only read the tasks.
    auto queueFigures = [&tasks]() {
        for (const UpInfo& task : tasks) {
            UploadStats().Queued(task.m_strFilePath, static_cast<uint64_t>(task.m_nFileLen));
        }
    };
    std::thread figures;
    try {
        figures = std::thread(queueFigures);
    } catch (const std::system_error&) {
        queueFigures();
    }
    if (m_pUploadList) {
        m_pUploadList->AddTaskRows(tasks);
    }
    if (figures.joinable()) {
        figures.join();
    }
    {
        QueueGuard lock(m_queue.Lock());
        m_queue.waiting.insert(m_queue.waiting.end(), std::make_move_iterator(tasks.begin()),
                               std::make_move_iterator(tasks.end()));
        const int n = static_cast<int>(m_queue.waiting.size());
        if (n > 0) {
            ShowQueueSummary(n + m_queue.activeCount);
        }
    }
    m_queue.NotifyChanged();
    EnsureUploadWorker();
}
