#include "ui/mainframe/main_frame.h"

#include "base/log.h"
#include "media/open_with_shell.h"
#include "net/hosts.h"
#include "ui/check_version.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/preview_list.h"
#include "ui/mainframe/preview_sink_adapter.h"
#include "ui/messages.h"
#include "ui/server_dir_tree.h"
#include "ui/skin/du_style.h"
#include "upload/transfer_stats.h"

#include <QGuiApplication>
#include <QIcon>
#include <QResizeEvent>
#include <QScreen>

#include <cstdlib>

namespace {

// Stop rounds (about a second each) given to workers still running when the window ends.
constexpr int kStoppingWorkerRounds = 10;

} // namespace

const std::array<DuEventRow<CMainFrame>, 12> CMainFrame::s_events = {{
    {u"sysClose", kDuEventClick, &CMainFrame::OnSysClose},
    {u"sysMax", kDuEventStateChange, &CMainFrame::OnSysMax},
    {u"tab_predirview", kDuEventStateChange, &CMainFrame::OnPreviewTab},
    {u"tab_uploadfile", kDuEventStateChange, &CMainFrame::OnUploadTab},
    {u"btn_getmorememory", kDuEventClick, &CMainFrame::OnGetMoreMemory},
    {u"sysMenu", kDuEventClick, &CMainFrame::OnSysMenu},
    {u"btn_uploadDir", kDuEventClick, &CMainFrame::OnUploadDir},
    {u"mainframe", kDuEventMaximizeToggle, &CMainFrame::OnMaximizeToggle},
    // The queue tab's own buttons.
    {u"btn_pauseall", kDuEventClick, &CMainFrame::OnPauseAllButton},
    {u"btn_resumeall", kDuEventClick, &CMainFrame::OnResumeAllButton},
    {u"btn_retryfailed", kDuEventClick, &CMainFrame::OnRetryFailedButton},
    {u"btn_clearfinished", kDuEventClick, &CMainFrame::OnClearFinishedButton},
}};

CMainFrame::CMainFrame() : m_pPreviewSink(std::make_unique<CFramePreviewSink>(*this)) {
    // The skin draws the frame and the caption; no system decoration, no background of
    // the window's own.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
}

CMainFrame::~CMainFrame() {
    StopAllWorkers();
    AwaitStoppingWorkers();
    // The session's threads report to this window: they end before it goes.
    m_session.Reset();
    DeleteListMemorySpace();
    // The children go with the skin window below; their last events must not reach a
    // window that is half gone.
    if (m_pPreviewList) {
        m_pPreviewList->viewport()->removeEventFilter(this);
    }
    if (m_pServerDirTree) {
        m_pServerDirTree->viewport()->removeEventFilter(this);
    }
    if (m_bBound) {
        if (DuStyle* style = DuAppStyle()) {
            style->Unbind(this);
        }
    }
}

void CMainFrame::StopAllWorkers() {
    m_session.Stop();
    StopWorker(m_pFileListThread);
    StopWorker(m_pLocalImgThread);
    StopWorker(m_pImgBySizeThread);
}

void CMainFrame::ReapStoppedWorkers() {
    std::erase_if(m_stoppingWorkers,
                  [](const std::unique_ptr<CWorkThread>& w) { return !w || !w->IsRunning(); });
}

void CMainFrame::AwaitStoppingWorkers() {
    // Each Stop waits up to a second; ten rounds give a stuck call its time-outs.
    for (int round = 0; round < kStoppingWorkerRounds && !m_stoppingWorkers.empty(); ++round) {
        for (auto& worker : m_stoppingWorkers) {
            worker->Stop();
        }
        ReapStoppedWorkers();
    }
    if (m_stoppingWorkers.empty()) {
        return;
    }
    // Every file the workers write is replaced atomically, so ending here loses nothing
    // that was saved; going on would free the window while they still use it.
    LogError(u"%d worker thread(s) still running at exit; ending the program",
             static_cast<int>(m_stoppingWorkers.size()));
    std::_Exit(0);
}

DuWindow* CMainFrame::WindowObject() const {
    DuStyle* style = DuAppStyle();
    return style ? style->Window(const_cast<CMainFrame*>(this)) : nullptr;
}

bool CMainFrame::Create(const char16_t* title) {
    setWindowTitle(QString::fromStdU16String(title ? title : u""));
    setWindowIcon(QIcon(QStringLiteral(":/res/qumo.png")));

    DuStyle* style = DuAppStyle();
    if (!style || !style->Bind(this, u"mainframe")) {
        return false;
    }
    m_bBound = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    DuWindow* window = style->Window(this);
    if (!window) {
        return false;
    }
    window->SetText(title ? title : u"");

    CreateDirTrees(window);
    ShowUserInfo();
    CreateFloatUploadButton();
    CreatePreviewList(window);

    m_pUploadList = new CListCtrlEx();
    m_pUploadList->setObjectName(QStringLiteral("listview_file_upload"));
    m_pUploadList->CreateColumns();
    m_pUploadList->SetNotifyTarget(this);
    m_pUploadList->SetMenuHandler([this](const QPoint& at) { ShowQueueMenu(at); });
    if (DuControl* host = window->Control(u"listview_file_upload")) {
        host->Adopt(m_pUploadList);
    } else {
        m_pUploadList->setParent(this);
        m_pUploadList->hide();
    }

    CreatePreviewImageList();
    m_pVersionText = window->Control(u"version_text");
    m_pCopyrightText = window->Control(u"copyright_text");
    m_pTabUploadFile = window->Control(u"tab_uploadfile");
    // The skin file cannot keep the captions' leading blanks; they are the tabs' indent.
    SetControlText(u"tab_predirview", u"        预览目录");
    SetControlText(u"tab_uploadfile", u"   文件上传进度");

    // The figures count this window's queue only.
    UploadStats().Reset();
    LoadUpLoadTaskList();
    setAcceptDrops(true);
    StartProgressTimer();
    CreateTray();
    return true;
}

void CMainFrame::SetControlText(const char16_t* name, const std::u16string& text) {
    DuWindow* window = WindowObject();
    if (DuControl* control = window ? window->Control(name) : nullptr) {
        control->SetText(text);
        control->Redraw();
    }
}

void CMainFrame::OpenWebPage(const char* path) {
    const std::string url = hosts::WebsiteBase() + (path && *path ? path : "/");
    const std::u16string wide(url.begin(), url.end());
    OpenWithShell(wide.c_str());
}

bool CMainFrame::OnCommand(int id) {
    switch (id) {
    case kCmdHomePage:
        OpenWebPage("/");
        return true;
    case kCmdCheckUpdate:
        CheckVersionUpdate(false);
        return true;
    case kCmdAbout:
        OpenWebPage("/about/aboutus");
        return true;
    case kCmdLogout:
        Logout();
        return true;
    case kCmdExit:
        Exit();
        return true;
    case kCmdUploadFromLocalTree:
        OnUploadFolder();
        return true;
    case kCmdUploadFromPreview:
        OnUploadSelectedFiles();
        return true;
    case kCmdFloatUpload:
        OnFloatUpload();
        return true;
    case kCmdPauseAll:
        PauseAllUploads();
        return true;
    case kCmdResumeAll:
        ResumeAllUploads();
        return true;
    case kCmdRetryFailed:
        RetryFailedUploads();
        return true;
    case kCmdClearFinished:
        ClearFinishedRows();
        return true;
    case kCmdSettings:
        OpenSettings();
        return true;
    case kCmdShowWindow:
        ShowFromTray();
        return true;
    default:
        return false;
    }
}

bool CMainFrame::event(QEvent* e) {
    if (SkinEvent* skin = AsSkinEvent(e)) {
        DuDispatchEvent<CMainFrame>(this, s_events, *skin);
        return true;
    }
    const int type = static_cast<int>(e->type());
    if (type >= ui::kMsgLocalDirClick && type <= ui::kMsgDeleteAllRows &&
        (type == ui::kMsgLocalDirClick || type >= ui::kMsgUploadProgress)) {
        auto* msg = dynamic_cast<ui::AppMessage*>(e);
        if (!msg) {
            return QWidget::event(e);
        }
        msg->result = 0;
        switch (type) {
        case ui::kMsgLocalDirClick:
            OnLocalDirClick(msg->text);
            return true;
        case ui::kMsgUploadProgress:
            OnUploadProgress(static_cast<int>(msg->wparam), msg->text);
            return true;
        case ui::kMsgRemoveWaitingTask:
            OnRemoveWaitingTask(msg->text);
            return true;
        case ui::kMsgResumeTask:
            OnResumeTask(msg->text);
            return true;
        case ui::kMsgPauseTask:
            OnPauseTask(msg->text);
            return true;
        default:
            break;
        }
    }
    return QWidget::event(e);
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    OnPreviewResize(e->size().width(), e->size().height());
}

void CMainFrame::OnSysClose(DuControl*, std::intptr_t, std::intptr_t) {
    if (ShouldHideToTray()) {
        hide();
        return;
    }
    Exit();
}

void CMainFrame::OnSysMax(DuControl*, std::intptr_t p1, std::intptr_t) {
    if (DuStyle* style = DuAppStyle()) {
        style->Show(this, p1 != 0 ? kDuShowMaximize : kDuShowRestore);
    }
}

void CMainFrame::OnUploadTab(DuControl*, std::intptr_t, std::intptr_t) {}

void CMainFrame::OnGetMoreMemory(DuControl*, std::intptr_t, std::intptr_t) {
    OpenWebPage("/info/morespace/");
}

void CMainFrame::OnSysMenu(DuControl*, std::intptr_t, std::intptr_t) {
    ShowSystemMenu();
}

void CMainFrame::OnUploadDir(DuControl*, std::intptr_t, std::intptr_t) {
    OnUploadFolder();
}

void CMainFrame::OnMaximizeToggle(DuControl*, std::intptr_t, std::intptr_t) {
    DuStyle* style = DuAppStyle();
    if (!style) {
        return;
    }
    style->Show(this, isMaximized() ? kDuShowRestore : kDuShowMaximize);
    SyncMaximizeButton();
}

void CMainFrame::SyncMaximizeButton() {
    // The button shows the window's state, however it was reached (caption, window
    // manager, opened maximised on a small screen).
    DuWindow* window = WindowObject();
    DuControl* max = window ? window->Control(u"sysMax") : nullptr;
    if (max && max->CheckState() != isMaximized()) {
        max->SetCheckState(isMaximized());
        max->Redraw();
    }
}
