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

#include <QPointer>

#include <algorithm>

int CMainFrame::PendingTaskCount() {
    return m_session.Pending();
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

void CMainFrame::AddUploadRow(const TaskRef& task) {
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
    ui::PostAppMessage(m_pUploadList, std::make_unique<ui::AppMessage>(ui::kMsgPauseAllRows));
}

void CMainFrame::OnUploadProgress(int percent, const std::u16string& fullPath) {
    if (!m_pUploadList || fullPath.empty()) {
        return;
    }
    m_pUploadList->Model()->SetValueForPath(fullPath, percent);
}

bool CMainFrame::OnRemoveWaitingTask(const std::u16string& fullPath) {
    // The session drops the task and its list-file element; an attempt in progress stops
    // before its next byte.
    const bool found = m_session.Cancel(fullPath);
    ShowQueueSummary(PendingTaskCount());
    return found;
}

void CMainFrame::OnResumeTask(const std::u16string& fullPath) {
    if (!fullPath.empty()) {
        m_session.Resume(fullPath);
    }
}

void CMainFrame::OnPauseTask(const std::u16string& fullPath) {
    m_session.Pause(fullPath);
}

void CMainFrame::EnsureUploadWorker() {
    m_session.EnsureWorker();
}

void CMainFrame::TellListSetAside(const std::u16string& aside) {
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
    std::vector<UpInfo> tasks;
    std::u16string aside;
    if (!m_session.ReadSaved(tasks, aside)) {
        if (!aside.empty() || !CGlobalVar::m_strUploadListPath.empty()) {
            platform::FileAttributes attrs;
            if (platform::GetFileAttributesEx(CGlobalVar::m_strUploadListPath, attrs)) {
                LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
            }
        }
        TellListSetAside(aside);
        return;
    }
    if (tasks.empty()) {
        return;
    }
    std::vector<TaskRef> refs;
    refs.reserve(tasks.size());
    for (UpInfo& t : tasks) {
        refs.push_back(UploadSession::MakeTask(std::move(t)));
    }
    tasks.clear();
    tasks.shrink_to_fit();
    if (m_pUploadList) {
        m_pUploadList->AddTaskRows(refs);
    }
    const int n = static_cast<int>(refs.size());
    m_session.Add(std::move(refs), false);
    ShowQueueSummary(std::max(n, PendingTaskCount()));
}
