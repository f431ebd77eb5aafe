// Adding uploads from the main window: a local folder, the selected preview files, or the
// file under the floating upload button, each into a server folder chosen in the picker.
#include "ui/mainframe/main_frame.h"

#include "app/global_var.h"
#include "base/format.h"
#include "base/log.h"
#include "media/local_scan.h"
#include "ui/local_dir_tree.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/preview_list.h"
#include "ui/sel_net_dir_dlg.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_control.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <span>
#include <system_error>
#include <thread>

namespace {

constexpr char16_t kNoLocalFolder[] = u"请选择本地待上传的目录后再上传！";

// How long a folder upload's turn may process events, and its wait for a thread between
// turns.
constexpr int kTurnMs = 20;

std::u16string Trimmed(const std::u16string& text) {
    return QString::fromStdU16String(text).trimmed().toStdU16String();
}

// The first `n` characters of `text` when it is longer, with "..." after them.
std::u16string Named(const std::u16string& text, std::size_t n) {
    return text.size() > n ? text.substr(0, n) + u"..." : text;
}

} // namespace

std::u16string CMainFrame::DuplicateMessage(const std::u16string& text, int value) {
    if (value == UploadListModel::kValueUploaded) {
        return u"[" + Named(text, 12) + u"]已上传完毕";
    }
    return u"[" + Named(text, 11) + u"]已在上传任务中";
}

std::u16string CMainFrame::SelectedLocalFolder() const {
    if (!m_pLocalDirTree) {
        return {};
    }
    const QList<QTreeWidgetItem*> selected = m_pLocalDirTree->selectedItems();
    if (selected.isEmpty()) {
        return {};
    }
    return CLocalDirTree::ItemPath(selected.front()).toStdU16String();
}

std::u16string CMainFrame::PreviewedLocalFolder() const {
    return m_nServerPreview == 0 ? m_strPreviewLocalDir : std::u16string();
}

bool CMainFrame::ChooseUploadTarget(int& fid) {
    CSelNetDirDlg picker(this);
    picker.DoModal();
    if (picker.m_nResult != 1) {
        return false;
    }
    fid = picker.m_nChosenFid;
    return true;
}

bool CMainFrame::ReportDuplicate(const std::u16string& fullPath, const std::u16string& text) {
    // The session knows whether the file is queued or uploaded; the rows only show it.
    const UploadSession::Known known = m_session.Lookup(fullPath);
    if (known == UploadSession::Known::None) {
        return false;
    }
    ShowMessageBox(this,
                   DuplicateMessage(text, known == UploadSession::Known::Uploaded
                                              ? UploadListModel::kValueUploaded
                                              : 0),
                   1);
    return true;
}

void CMainFrame::AppendUploadTask(UpInfo& task) {
    task.m_bListed = 1;
    TaskRef ref = UploadSession::MakeTask(task);
    if (m_pUploadList) {
        m_pUploadList->AddTaskRow(ref);
    }
    m_session.Add(std::vector<TaskRef>{std::move(ref)}, true);
}

void CMainFrame::StartAddedUploads() {
    ShowQueueSummary(PendingTaskCount());
    EnsureUploadWorker();
}

bool CMainFrame::ChooseFolderAndTarget(const std::u16string& folder, int& fid) {
    if (folder.empty()) {
        ShowMessageBox(this, kNoLocalFolder, 1);
        return false;
    }
    return ChooseUploadTarget(fid);
}

bool CMainFrame::AddFileUpload(const std::u16string& folder, const std::u16string& name, int fid) {
    UpInfo task = MakeFileTask(folder, name, fid);
    if (ReportDuplicate(task.m_strFilePath, name)) {
        return false;
    }
    AppendUploadTask(task);
    return true;
}

UpInfo CMainFrame::MakeFileTask(const std::u16string& folder, const std::u16string& name, int fid) {
    return MakeFileUploadTask(folder, name, fid);
}

bool CMainFrame::RefuseWhileQueueing(const char16_t* what) const {
    if (!m_bQueueing) {
        return false;
    }
    LogInfo(u"Adding uploads from a folder: %s waits until it is done.", what);
    return true;
}

void CMainFrame::QueueingTurn(const std::u16string& text) {
    if (m_lastTurn.isValid() && m_lastTurn.elapsed() < m_queueingPace.turnEveryMs) {
        return;
    }
    if (m_queueingClock.elapsed() >= m_queueingPace.progressAfterMs && m_pCopyrightText) {
        m_bQueueingShown = true;
        m_pCopyrightText->SetText(text);
        m_pCopyrightText->Redraw();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, kTurnMs);
    m_lastTurn.start();
}

template <class Work, class Text> void CMainFrame::RunWhileTurning(Work&& work, Text&& text) {
    std::promise<void> done;
    std::future<void> ended = done.get_future();
    std::thread worker;
    try {
        worker = std::thread([&work, &done]() {
            work();
            done.set_value();
        });
    } catch (const std::system_error&) {
        LogError(u"No thread for a folder upload's step; it runs without turns.");
        work();
        return;
    }
    while (ended.wait_for(std::chrono::milliseconds(kTurnMs)) != std::future_status::ready) {
        QueueingTurn(text());
    }
    worker.join();
}

void CMainFrame::OnUploadFolder() {
    if (RefuseWhileQueueing(u"another folder upload")) {
        return;
    }
    const std::u16string folder = SelectedLocalFolder();
    int fid = 0;
    if (!ChooseFolderAndTarget(folder, fid)) {
        return;
    }
    UploadFolderTo(folder, fid);
}

void CMainFrame::UploadFolderTo(const std::u16string& folder, int fid) {
    if (RefuseWhileQueueing(u"another folder upload")) {
        return;
    }
    // A library of a hundred thousand files takes seconds: the window keeps turning and
    // shows how far it is, and what would change the queue or end the window waits.
    m_bQueueing = true;
    m_bQueueingShown = false;
    m_queueingClock.start();
    m_lastTurn.start();
    if (m_pUploadList) {
        m_pUploadList->HoldRowDeletion(true);
    }
    int added = 0;
    {
        std::vector<UpInfo> tasks;
        std::atomic<std::size_t> found{0};
        RunWhileTurning([&]() { FindDirAndFiles(folder.c_str(), tasks, fid, &found); },
                        [&]() {
                            return FormatText(u"正在查找待上传的文件：已找到 %d 个……",
                                              static_cast<int>(found.load()));
                        });
        // The walk runs from the last task to the first; the kept tasks gather at the front
        // in that order. Rows follow in runs, so the window can turn between them; the
        // session then saves them in one write and queues them.
        std::reverse(tasks.begin(), tasks.end());
        std::size_t kept = 0;
        std::size_t shown = 0;
        // The session's task objects, made as their rows come, so a row shows the very
        // record the session then queues.
        std::vector<TaskRef> refs;
        auto flush = [&]() {
            if (shown == kept) {
                return;
            }
            const std::size_t from = refs.size();
            for (std::size_t k = shown; k < kept; ++k) {
                refs.push_back(UploadSession::MakeTask(std::move(tasks[k])));
            }
            if (m_pUploadList) {
                m_pUploadList->AddTaskRows(
                    std::span<const TaskRef>(refs.data() + from, refs.size() - from));
            }
            shown = kept;
        };
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            UpInfo& t = tasks[i];
            if (m_session.Lookup(t.m_strFilePath) != UploadSession::Known::None) {
                flush(); // the rows so far are on screen before the message
                ReportDuplicate(t.m_strFilePath, t.m_strFilePath);
                continue;
            }
            t.m_bListed = 1;
            if (kept != i) {
                tasks[kept] = std::move(t);
            }
            ++kept;
            ++added;
            if (kept - shown >= m_queueingPace.runLength) {
                flush();
                QueueingTurn(FormatText(u"正在添加上传任务：%d/%d……", static_cast<int>(i + 1),
                                        static_cast<int>(tasks.size())));
            }
        }
        flush();
        tasks.clear();
        tasks.shrink_to_fit();
        if (!refs.empty()) {
            RunWhileTurning([&]() { m_session.Add(std::move(refs), true); },
                            [&]() { return std::u16string(u"正在保存上传列表……"); });
        }
    }
    m_bQueueing = false;
    if (m_pUploadList) {
        m_pUploadList->HoldRowDeletion(false);
    }
    if (added == 0) {
        if (m_bQueueingShown) {
            ShowQueueSummary(PendingTaskCount());
        }
        ShowMessageBox(this, kNothingToUploadText, 1);
        return;
    }
    ShowQueueSummary(PendingTaskCount());
    EnsureUploadWorker();
}

void CMainFrame::OnUploadSelectedFiles() {
    if (RefuseWhileQueueing(u"uploading the selected files")) {
        return;
    }
    if (!m_pPreviewList || m_pPreviewList->SelectedRows().empty()) {
        return;
    }
    const std::u16string folder = PreviewedLocalFolder();
    int fid = 0;
    if (!ChooseFolderAndTarget(folder, fid)) {
        return;
    }
    const std::vector<int> rows = m_pPreviewList->SelectedRows();
    if (rows.empty()) {
        LogError(u"No items were selected!");
        return;
    }
    for (int row : rows) {
        const std::u16string name = Trimmed(m_pPreviewList->ItemText(row));
        if (name.empty()) {
            continue;
        }
        AddFileUpload(folder, name, fid);
    }
    StartAddedUploads();
}

void CMainFrame::OnFloatUpload() {
    if (RefuseWhileQueueing(u"the floating upload button")) {
        return;
    }
    const int row = FloatButtonItem();
    if (row < 0 || !m_pPreviewList) {
        return;
    }
    const std::u16string name = Trimmed(m_pPreviewList->ItemText(row));
    if (name.empty()) {
        return;
    }
    const std::u16string folder = PreviewedLocalFolder();
    int fid = 0;
    if (!ChooseFolderAndTarget(folder, fid)) {
        return;
    }
    if (AddFileUpload(folder, name, fid)) {
        StartAddedUploads();
    }
}
