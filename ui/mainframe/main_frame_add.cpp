// Adding uploads from the main window: a local folder, the selected preview files, or the
// file under the floating upload button, each into a server folder chosen in the picker.
#include "ui/mainframe/main_frame.h"

#include "app/global_var.h"
#include "base/log.h"
#include "media/local_scan.h"
#include "ui/local_dir_tree.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/preview_list.h"
#include "ui/sel_net_dir_dlg.h"
#include "ui/show_msg_dlg.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_file.h"

#include <QString>

namespace {

using QueueGuard = std::lock_guard<std::recursive_mutex>;

constexpr char16_t kNoLocalFolder[] = u"请选择本地待上传的目录后再上传！";

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

bool CMainFrame::ReportDuplicate(const std::u16string& fullPath, const std::u16string& text,
                                 int rows) {
    if (!m_pUploadList) {
        return false;
    }
    for (int row : m_pUploadList->Model()->RowsWithPath(fullPath)) {
        if (row < rows) {
            ShowMessageBox(this, DuplicateMessage(text, m_pUploadList->GetItemData(row)), 1);
            return true;
        }
    }
    return false;
}

void CMainFrame::AppendUploadTask(UpInfo& task) {
    task.m_bListed = 1;
    if (m_pUploadList) {
        m_pUploadList->AddTaskRow(task);
    }
    QueueGuard lock(m_queue.Lock());
    m_queue.waiting.push_back(task);
    UploadStats().Queued(task.m_strFilePath, static_cast<uint64_t>(task.m_nFileLen));
    if (!AddUploadTaskList(task)) {
        LogError(u"Failed to save the upload task of %s.", task.m_strFilePath.c_str());
    }
}

void CMainFrame::StartAddedUploads() {
    {
        QueueGuard lock(m_queue.Lock());
        if (!m_queue.waiting.empty()) {
            ShowQueueSummary(PendingTaskCount());
        }
    }
    m_queue.NotifyChanged();
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
    const int rows = m_pUploadList ? m_pUploadList->GetItemCount() : 0;
    if (ReportDuplicate(task.m_strFilePath, name, rows)) {
        return false;
    }
    AppendUploadTask(task);
    return true;
}

UpInfo CMainFrame::MakeFileTask(const std::u16string& folder, const std::u16string& name, int fid) {
    return MakeFileUploadTask(folder, name, fid);
}

void CMainFrame::OnUploadFolder() {
    const std::u16string folder = SelectedLocalFolder();
    int fid = 0;
    if (!ChooseFolderAndTarget(folder, fid)) {
        return;
    }
    UploadFolderTo(folder, fid);
}

void CMainFrame::UploadFolderTo(const std::u16string& folder, int fid) {
    int added = 0;
    {
        // Held across the walk, message boxes included: the worker waits meanwhile.
        QueueGuard lock(m_queue.Lock());
        std::vector<UpInfo> tasks;
        FindDirAndFiles(folder.c_str(), tasks, fid);
        const int rows = m_pUploadList ? m_pUploadList->GetItemCount() : 0;
        // New rows are shown and the list file is written once per run of new tasks, not
        // once per task: a folder of ten thousand files would otherwise rewrite the whole
        // file ten thousand times. The file ends the same.
        std::vector<UpInfo> pending;
        auto flush = [&]() {
            if (pending.empty()) {
                return;
            }
            if (m_pUploadList) {
                m_pUploadList->AddTaskRows(pending);
            }
            m_queue.waiting.insert(m_queue.waiting.end(), pending.begin(), pending.end());
            for (const UpInfo& t : pending) {
                UploadStats().Queued(t.m_strFilePath, static_cast<uint64_t>(t.m_nFileLen));
            }
            if (!AddUploadTaskLists(pending)) {
                LogError(u"Failed to save %d upload tasks.", static_cast<int>(pending.size()));
            }
            pending.clear();
        };
        for (auto it = tasks.rbegin(); it != tasks.rend(); ++it) {
            if (m_pUploadList && !m_pUploadList->Model()->RowsWithPath(it->m_strFilePath).empty()) {
                flush(); // the rows so far are on screen before the message
                if (ReportDuplicate(it->m_strFilePath, it->m_strFilePath, rows)) {
                    continue;
                }
            }
            it->m_bListed = 1;
            pending.push_back(std::move(*it));
            ++added;
        }
        flush();
    }
    if (added == 0) {
        ShowMessageBox(this, kNothingToUploadText, 1);
        return;
    }
    {
        QueueGuard lock(m_queue.Lock());
        ShowQueueSummary(PendingTaskCount());
    }
    m_queue.NotifyChanged();
    EnsureUploadWorker();
}

void CMainFrame::OnUploadSelectedFiles() {
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
