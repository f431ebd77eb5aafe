// Queue-wide commands of the upload list's menu and the queue tab's buttons: pause all,
// resume all, retry the failed files now, clear the uploaded rows. Each is one change to
// the queue; only clearing touches the list file, with one write at most.
#include "ui/mainframe/main_frame.h"

#include "ui/mainframe/list_ctrl_ex.h"

#include <QMenu>

namespace {

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

} // namespace

void CMainFrame::BuildQueueMenu(QMenu& menu) {
    const bool anyUploaded = m_pUploadList && m_pUploadList->Model()->AnyUploaded();
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
    // The session stops the files being sent through their own pause flags.
    m_session.PauseAll();
    if (m_pUploadList) {
        m_pUploadList->PauseAllRows();
    }
    ShowQueueSummary(PendingTaskCount());
}

void CMainFrame::ResumeAllUploads() {
    if (m_session.ResumeAll() == 0) {
        return;
    }
    if (m_pUploadList) {
        m_pUploadList->Model()->SetAllStates(1);
    }
    ShowQueueSummary(PendingTaskCount());
}

void CMainFrame::RetryFailedUploads() {
    // The rows show what the session decides: each failed task's row offers pause again.
    std::vector<std::u16string> failed;
    if (m_session.RetryFailed(&failed) == 0) {
        return;
    }
    if (m_pUploadList) {
        for (const std::u16string& path : failed) {
            m_pUploadList->Model()->ClearFailedForPath(path);
        }
    }
}

void CMainFrame::ClearFinishedRows() {
    if (!m_pUploadList || RefuseWhileQueueing(u"clearing the uploaded rows")) {
        return;
    }
    // Only what the session confirmed as uploaded leaves: a row is never the judge.
    const std::vector<std::u16string> paths = m_session.ClearFinished();
    std::vector<int> rows;
    for (const std::u16string& p : paths) {
        for (int row : m_pUploadList->Model()->RowsWithPath(p)) {
            rows.push_back(row);
        }
    }
    if (!rows.empty()) {
        m_pUploadList->DeleteRows(rows);
    }
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
