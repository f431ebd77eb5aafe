// The folder trees and the preview of the main window: the server folder tree (6001), the
// local folder tree (6002), the preview list (3001) with its image list, the two kinds of
// preview and their workers, the preview's mouse handling and the floating upload button.
#include "ui/mainframe/main_frame.h"

#include "app/global_var.h"
#include "base/log.h"
#include "media/local_scan.h"
#include "media/open_with_shell.h"
#include "media/show_img_by_size_thread.h"
#include "media/show_local_img_thread.h"
#include "net/hosts.h"
#include "platform/lasterror.h"
#include "serverdir/file_download_thread.h"
#include "serverdir/server_dir_info.h"
#include "ui/hover_button.h"
#include "ui/local_dir_tree.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/preview_list.h"
#include "ui/mainframe/preview_sink_adapter.h"
#include "ui/server_dir_tree.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_window.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>

namespace {

constexpr int kFloatButtonWidth = 64;
constexpr int kFloatButtonHeight = 28;

std::u16string Trimmed(const std::u16string& text) {
    return QString::fromStdU16String(text).trimmed().toStdU16String();
}

// Places `child` in the skin area `name`; without the area it stays hidden in `owner`.
void AdoptInto(DuWindow* window, const char16_t* name, QWidget* child, QWidget* owner) {
    DuControl* host = window ? window->Control(name) : nullptr;
    if (!host || !host->Adopt(child)) {
        child->setParent(owner);
        child->hide();
    }
}

// A server file's own address: the record's location on the host, or the location itself
// when the service already gave a whole address.
std::u16string ServerFileAddress(const std::string& base, const char16_t* location) {
    const std::u16string where = location;
    if (where.rfind(u"http://", 0) == 0 || where.rfind(u"https://", 0) == 0) {
        return where;
    }
    const std::u16string start(base.begin(), base.end());
    return start + u"/" + (where.rfind(u"/", 0) == 0 ? where.substr(1) : where);
}

} // namespace

void CMainFrame::CreateDirTrees(DuWindow* window) {
    m_pServerDirTree = new CServerDirTree();
    m_pServerDirTree->setObjectName(QStringLiteral("treectrl_serverdir"));
    AdoptInto(window, u"treectrl_serverdir", m_pServerDirTree, this);
    m_pServerDirTree->Reload(ServerDirInfoPath().c_str());
    m_pServerDirTree->viewport()->installEventFilter(this);

    m_pLocalDirTree = new CLocalDirTree();
    m_pLocalDirTree->setObjectName(QStringLiteral("treectrl_localdir"));
    m_pLocalDirTree->SetNotifyTarget(this);
    m_pLocalDirTree->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_pLocalDirTree, &QWidget::customContextMenuRequested, this,
                     [this](const QPoint& pos) { OnLocalTreeRightClick(pos); });
    AdoptInto(window, u"treectrl_localdir", m_pLocalDirTree, this);
    m_pLocalDirTree->FillTree();
}

void CMainFrame::ReloadDirTrees() {
    if (m_pServerDirTree) {
        m_pServerDirTree->Reload(ServerDirInfoPath().c_str());
    }
    // Filled anew, not just deselected: media mounted since the last login appear and the
    // previous user's expansion goes.
    if (m_pLocalDirTree) {
        m_pLocalDirTree->FillTree();
    }
}

void CMainFrame::CreateFloatUploadButton() {
    m_pFloatUploadBtn =
        new CHoverButton(this, QRect(0, 0, kFloatButtonWidth, kFloatButtonHeight), kCmdFloatUpload);
    m_pFloatUploadBtn->LoadButtonBitmap(kBitmapUploadFloat);
    m_pFloatUploadBtn->setToolTip(QStringLiteral("上传到私人目录"));
    m_pFloatUploadBtn->hide();
    QObject::connect(m_pFloatUploadBtn, &QPushButton::clicked, this,
                     [this]() { OnCommand(kCmdFloatUpload); });
}

void CMainFrame::CreatePreviewList(DuWindow* window) {
    m_pPreviewList = new CPreviewList();
    AdoptInto(window, u"listview_preview_dir", m_pPreviewList, this);
    m_pPreviewList->viewport()->installEventFilter(this);
    m_pPreviewList->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_pPreviewList, &QWidget::customContextMenuRequested, this,
                     [this](const QPoint& pos) { OnPreviewRightClick(pos); });
    QObject::connect(
        m_pPreviewList, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem* item) { OnPreviewDoubleClick(m_pPreviewList->row(item)); });
}

void CMainFrame::CreatePreviewImageList() {
    if (m_pPreviewList) {
        m_pPreviewList->RemoveAllImages();
    }
}

void CMainFrame::ClearPreview() {
    if (!m_pPreviewList) {
        return;
    }
    m_pPreviewList->setUpdatesEnabled(false);
    m_pPreviewList->RemoveAllImages();
    DeleteListMemorySpace();
    m_pPreviewList->DeleteAllItems();
    m_pPreviewList->setUpdatesEnabled(true);
    m_pPreviewList->viewport()->update();
    if (m_pFloatUploadBtn) {
        m_pFloatUploadBtn->hide();
    }
}

void CMainFrame::DeleteListMemorySpace() {
    if (!m_pPreviewList) {
        return;
    }
    try {
        m_pPreviewList->FreeItemRecords();
    } catch (...) {
        LogError(u"DeleteListMemorySpace is Exception, error is %d", platform::GetLastErrorCode());
    }
}

void CMainFrame::StopPreviewWorkers() {
    if (m_pPreviewList) {
        m_pPreviewList->StopThumbnails();
    }
    StopWorker(m_pFileListThread);
    StopWorker(m_pLocalImgThread);
    StopWorker(m_pImgBySizeThread);
}

bool CMainFrame::PreviewWorkerRunning() const {
    return PreviewThreadRunning() || (m_pPreviewList && m_pPreviewList->ThumbnailsPending());
}

bool CMainFrame::PreviewThreadRunning() const {
    for (const auto* slot : {&m_pFileListThread, &m_pLocalImgThread, &m_pImgBySizeThread}) {
        if (*slot && (*slot)->IsRunning()) {
            return true;
        }
    }
    return false;
}

void CMainFrame::ShowPreviewTab(const std::u16string& caption) {
    DuWindow* window = WindowObject();
    DuControl* tab = window ? window->Control(u"tab_predirview") : nullptr;
    if (!tab) {
        return;
    }
    if (!tab->IsSelected()) {
        tab->Select(); // shows its page and reports the change like a click
    }
    tab->SetText(u"        " + caption);
    tab->Redraw();
}

void CMainFrame::OnLocalDirClick(const std::u16string& path) {
    m_strRequestedPreviewDir = path;
    m_nServerPreview = 0;
    if (path.empty()) {
        return;
    }
    StopPreviewWorkers();
    const std::u16string folder = Trimmed(path);
    if (folder.empty()) {
        return;
    }
    if (!WindowObject()) {
        return;
    }
    m_preview.folder = folder;
    m_strPreviewLocalDir = folder;
    ShowPreviewTab(m_strRequestedPreviewDir);
    m_preview.records.clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);

    const int found = ListFolderMedia(folder.c_str(), m_preview.names);
    SetControlText(u"version_text",
                   found ? QString::number(m_preview.names.size()).toStdU16String() + u"个文件"
                         : std::u16string(u"0个文件"));
    ClearPreview();
    if (!found) {
        m_preview.names.clear();
        QApplication::restoreOverrideCursor();
        return;
    }
    if (m_pPreviewList) {
        m_pPreviewList->StartThumbnails(true, VideoPlaceholder());
    }
    m_pLocalImgThread = std::make_unique<ShowLocalImgThread>(*m_pPreviewSink);
    if (m_pLocalImgThread->Start() && m_pPreviewList) {
        m_pPreviewList->setFocus();
    }
    QApplication::restoreOverrideCursor();
}

void CMainFrame::OnServerDirClick(const QPoint& viewportPos) {
    m_nServerPreview = 1;
    if (!m_pServerDirTree) {
        return;
    }
    QTreeWidgetItem* item = m_pServerDirTree->itemAt(viewportPos);
    if (!item) {
        m_pServerDirTree->clearSelection();
        return;
    }
    if (!WindowObject()) {
        return;
    }
    m_pServerDirTree->setCurrentItem(item);
    m_pServerDirTree->setFocus();
    const int fid = m_pServerDirTree->ItemFid(item);
    ShowPreviewTab(m_pServerDirTree->ItemPath(item));
    const std::u16string cacheDir = m_pServerDirTree->ItemCacheDir(item);

    StopPreviewWorkers();
    ClearFolderFiles(cacheDir.c_str());
    m_preview.records.clear();
    ClearPreview();
    m_preview.names.clear();
    m_preview.folder = cacheDir;
    m_strPreviewLocalDir.clear();

    // The small pictures of the server are ours alone: no desktop cache entries for them.
    if (m_pPreviewList) {
        m_pPreviewList->StartThumbnails(false, {});
    }
    m_pFileListThread =
        std::make_unique<FileDownLoadThread>(*m_pPreviewSink, *m_pPreviewSink, fid, cacheDir);
    if (!m_pFileListThread->Start()) {
        LogError(u"Failed to start the server file list thread.");
    }
}

void CMainFrame::OnPreviewResize(int width, int height) {
    if (m_pPreviewSink) {
        m_pPreviewSink->StoreOuterSize(frameGeometry().size());
    }
    if (width == 0 || height == 0 || width < 200) {
        return;
    }
    // Thumbnails still being made do not hold the layout back: the list keeps them.
    if (PreviewThreadRunning() || m_preview.names.empty() || !m_pPreviewSink) {
        return;
    }
    const int w = frameGeometry().width() - 280;
    if (m_nLastPreviewWidth == -1 || std::abs(m_nLastPreviewWidth - w) > 160) {
        m_nLastPreviewWidth = w;
    } else if (m_nLastPreviewWidth != w) {
        return;
    }
    StopWorker(m_pImgBySizeThread);
    m_pImgBySizeThread = std::make_unique<ShowImgBySizeThread>(*m_pPreviewSink);
    m_pImgBySizeThread->Start();
}

void CMainFrame::OnPreviewTab(DuControl* /*control*/, std::intptr_t p1, std::intptr_t /*p2*/) {
    if (p1 == 1) {
        m_nPreviewTabActive = 1;
        if (m_pPreviewList) {
            m_pPreviewList->setFocus();
        }
    } else if (p1 == 0) {
        m_nPreviewTabActive = 0;
        if (m_pFloatUploadBtn && m_pFloatUploadBtn->isVisible()) {
            m_pFloatUploadBtn->hide();
        }
        if (m_pUploadList) {
            m_pUploadList->setFocus();
        }
    }
}

void CMainFrame::BuildPreviewMenu(QMenu& menu) {
    menu.setTitle(QStringLiteral("右键上传"));
    QAction* upload = menu.addAction(QStringLiteral("上传"));
    upload->setData(static_cast<int>(kCmdUploadFromPreview));
    upload->setEnabled(true);
}

void CMainFrame::BuildLocalTreeMenu(QMenu& menu) {
    menu.setTitle(QStringLiteral("本地目录树菜单"));
    menu.addAction(QStringLiteral("上传"))->setData(static_cast<int>(kCmdUploadFromLocalTree));
}

void CMainFrame::PopupCommandMenu(QMenu& menu, const QPoint& globalPos) {
    if (QAction* chosen = menu.exec(globalPos)) {
        OnCommand(chosen->data().toInt());
    }
}

void CMainFrame::OnPreviewRightClick(const QPoint& viewportPos) {
    if (m_nServerPreview != 0 || !m_pPreviewList) {
        return;
    }
    if (m_pPreviewList->HitTest(viewportPos) < 0) {
        return;
    }
    QMenu menu(this);
    BuildPreviewMenu(menu);
    PopupCommandMenu(menu, m_pPreviewList->viewport()->mapToGlobal(viewportPos));
}

void CMainFrame::OnLocalTreeRightClick(const QPoint& viewportPos) {
    if (!m_pLocalDirTree) {
        return;
    }
    QTreeWidgetItem* item = m_pLocalDirTree->itemAt(viewportPos);
    if (!item) {
        return;
    }
    m_pLocalDirTree->setCurrentItem(item);
    QMenu menu(this);
    BuildLocalTreeMenu(menu);
    PopupCommandMenu(menu, m_pLocalDirTree->viewport()->mapToGlobal(viewportPos));
}

void CMainFrame::OnPreviewDoubleClick(int row) {
    if (m_nServerPreview == 0 || !m_pPreviewList) {
        return;
    }
    const UpInfo* record = m_pPreviewList->RecordAt(row);
    if (!record) {
        return;
    }
    const std::u16string address =
        record->m_entry->m_nItemType == 200
            ? ServerFileAddress(hosts::VideoThumbBase(), record->m_entry->m_tcPlayUrl.c_str())
            : ServerFileAddress(hosts::PictureBase(), record->m_entry->m_tcSource.c_str());
    OpenWithShell(address.c_str());
}

QPoint CMainFrame::FloatButtonPosition(int row) const {
    // Over the thumbnail's top right corner, wherever the skin puts the preview.
    const QRect icon = m_pPreviewList->IconRect(row);
    const QPoint corner(icon.right() - kFloatButtonWidth - 6, icon.top() + 6);
    return m_pPreviewList->viewport()->mapTo(this, corner);
}

void CMainFrame::PlaceFloatUploadButton(const QPoint& viewportPos) {
    if (!m_pFloatUploadBtn || !m_pPreviewList) {
        return;
    }
    if (m_nServerPreview != 0 || m_nPreviewTabActive == 0 || m_pPreviewList->count() == 0) {
        return;
    }
    const int row = m_pPreviewList->HitTest(viewportPos);
    if (row >= 0 && !Trimmed(m_pPreviewList->ItemText(row)).empty()) {
        m_pFloatUploadBtn->setGeometry(
            QRect(FloatButtonPosition(row), QSize(kFloatButtonWidth, kFloatButtonHeight)));
        m_pFloatUploadBtn->show();
        m_pFloatUploadBtn->raise();
        m_pFloatUploadBtn->update();
    } else if (m_pFloatUploadBtn->isVisible()) {
        m_pFloatUploadBtn->hide();
    }
}

int CMainFrame::FloatButtonItem() const {
    if (!m_pFloatUploadBtn || !m_pPreviewList) {
        return -1;
    }
    // The thumbnail under the button's centre is the one it was placed over.
    const QPoint centre = m_pFloatUploadBtn->geometry().center();
    return m_pPreviewList->HitTest(m_pPreviewList->viewport()->mapFrom(this, centre));
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* e) {
    if (m_pPreviewList && watched == m_pPreviewList->viewport() && e->type() == QEvent::MouseMove) {
        PlaceFloatUploadButton(static_cast<QMouseEvent*>(e)->position().toPoint());
    } else if (m_pServerDirTree && watched == m_pServerDirTree->viewport() &&
               e->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(e);
        if (mouse->button() == Qt::LeftButton) {
            OnServerDirClick(mouse->position().toPoint());
        }
    }
    return QWidget::eventFilter(watched, e);
}
