// Queue-wide commands of the upload list's menu and the queue tab's buttons: pause all,
// resume all, retry the failed files now, clear the uploaded rows. Each is one change to
// the queue; only clearing touches the list file, with one write at most.
#include "ui/mainframe/main_frame.h"

#include "ui/mainframe/list_ctrl_ex.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"

#include <QMenu>

namespace {

using QueueGuard = std::lock_guard<std::recursive_mutex>;

struct QueueItem {
    int id;
    const char16_t* text;
};

constexpr QueueItem kQueueMenu[] = {
    {kCmdPauseAll, u"全部暂停"},
    {kCmdResumeAll, u"全部继续"},
    {kCmdRetryFailed, u"立即重试失败的文件"},
    {kCmdClearFinished, u"清除已完成"},
};

// Counts the tasks the queue will send again as open in the progress figures.
void ReopenRetryTasks(UploadQueue& queue) {
    QueueGuard lock(queue.Lock());
    for (const auto* tasks : {&queue.waiting, &queue.active}) {
        for (const UpInfo& t : *tasks) {
            if (t.m_nStatus == kTaskRetry) {
                UploadStats().Queued(t.m_strFilePath, static_cast<uint64_t>(t.m_nFileLen));
            }
        }
    }
}

} // namespace

void CMainFrame::BuildQueueMenu(QMenu& menu) {
    const bool anyUploaded = m_pUploadList && !m_pUploadList->Model()->UploadedRows().empty();
    for (const QueueItem& item : kQueueMenu) {
        QAction* action = menu.addAction(QString::fromStdU16String(item.text));
        action->setData(item.id);
        if (item.id == kCmdClearFinished) {
            menu.insertSeparator(action);
            action->setEnabled(anyUploaded);
        }
    }
}

void CMainFrame::ShowQueueMenu(const QPoint& globalPos) {
    QMenu menu(this);
    BuildQueueMenu(menu);
    if (QAction* chosen = menu.exec(globalPos)) {
        OnCommand(chosen->data().toInt());
    }
}

void CMainFrame::PauseAllUploads() {
    // The queue stops the file being sent through the pause flag, as a row's pause does.
    m_queue.PauseAll();
    UploadStats().PauseAll();
    if (m_pUploadList) {
        m_pUploadList->PauseAllRows();
    }
    ShowQueueSummary(PendingTaskCount());
}

void CMainFrame::ResumeAllUploads() {
    if (m_queue.ResumeAll() == 0) {
        return;
    }
    ReopenRetryTasks(m_queue);
    if (m_pUploadList) {
        m_pUploadList->Model()->SetAllStates(1);
    }
    EnsureUploadWorker();
    ShowQueueSummary(PendingTaskCount());
}

void CMainFrame::RetryFailedUploads() {
    const std::vector<std::u16string> failed =
        m_pUploadList ? m_pUploadList->Model()->FailedPaths() : std::vector<std::u16string>();
    if (m_queue.RetryFailedNow(failed) == 0) {
        return;
    }
    if (m_pUploadList) {
        for (const std::u16string& path : failed) {
            for (int row : m_pUploadList->Model()->RowsWithPath(path)) {
                m_pUploadList->Model()->SetState(row, 1);
            }
        }
    }
    ReopenRetryTasks(m_queue);
    EnsureUploadWorker();
}

void CMainFrame::ClearFinishedRows() {
    if (!m_pUploadList || RefuseWhileQueueing(u"clearing the uploaded rows")) {
        return;
    }
    const std::vector<int> rows = m_pUploadList->Model()->UploadedRows();
    if (rows.empty()) {
        return;
    }
    {
        // An uploaded task normally has no element left; any that remain go in one write
        // of the list file when the scope ends, not one write per row.
        UploadListJournalScope oneWrite;
        for (int row : rows) {
            DeleteUploadTaskList(m_pUploadList->GetItemText(row, UploadListModel::kColFullPath));
        }
    }
    m_pUploadList->DeleteRows(rows);
}

void CMainFrame::OnPauseAllButton(DuControl*, std::intptr_t, std::intptr_t) {
    PauseAllUploads();
}

void CMainFrame::OnResumeAllButton(DuControl*, std::intptr_t, std::intptr_t) {
    ResumeAllUploads();
}

void CMainFrame::OnRetryFailedButton(DuControl*, std::intptr_t, std::intptr_t) {
    RetryFailedUploads();
}

void CMainFrame::OnClearFinishedButton(DuControl*, std::intptr_t, std::intptr_t) {
    ClearFinishedRows();
}
