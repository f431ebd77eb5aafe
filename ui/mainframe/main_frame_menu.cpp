// The system menu and its commands, the end of the logged-in state, logout and exit.
#include "ui/mainframe/main_frame.h"

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/messages.h"
#include "ui/settings_dlg.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"
#include "ui/user_login_dlg.h"
#include "upload/transfer_stats.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QListWidget>
#include <QMenu>

namespace {

struct MenuItem {
    int id; // 0 for a separator
    const char16_t* text;
};

constexpr MenuItem kSystemMenu[] = {
    {kCmdHomePage, u"进入酷摩岚网(&H)"},
    {0, nullptr},
    {kCmdCheckUpdate, u"检查更新(&U)"},
    {kCmdSettings, u"设置(&S)"},
    {kCmdAbout, u"关于(&A)"},
    {kCmdLogout, u"注销(&Q)"},
    {0, nullptr},
    {kCmdExit, u"退出(&X)"},
};

} // namespace

void CMainFrame::BuildSystemMenu(QMenu& menu) {
    menu.setTitle(QStringLiteral("系统菜单"));
    for (const MenuItem& item : kSystemMenu) {
        if (item.id == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdU16String(item.text));
        action->setData(item.id);
        action->setEnabled(true);
    }
}

void CMainFrame::ShowSystemMenu() {
    QMenu menu(this);
    BuildSystemMenu(menu);
    // Right-aligned to the cursor.
    const QPoint at = QCursor::pos() - QPoint(menu.sizeHint().width(), 0);
    if (QAction* chosen = menu.exec(at)) {
        OnCommand(chosen->data().toInt());
    }
}

void CMainFrame::ResetLoginState() {
    // The workers go first: they read the account values while they run.
    StopAllWorkers();
    // The session drops every task; a worker still ending keeps the ones it works on alive
    // and reports nothing about them any more.
    m_session.Reset();
    CGlobalVar::ClearUserState();
    CGlobalVar::m_nUploadCtrl = 0;
    m_preview.names.clear();
    m_preview.records.clear();
}

void CMainFrame::OpenSettings() {
    CSettingsDlg settings(this, prefs::PrefsPath());
    settings.DoModal();
}

bool CMainFrame::ConfirmExit() {
    if (RefuseWhileQueueing(u"exit")) {
        return false;
    }
    if (ShowMessageBox(this, u"确定退出系统吗,点[否]取消退出?", 0) != 1) {
        return false;
    }
    ResetLoginState();
    m_bClosing = true;
    return true;
}

void CMainFrame::Exit() {
    if (!ConfirmExit()) {
        return;
    }
    // From the tray the window is hidden, and closing a hidden window is not the end of
    // the last window Qt waits for.
    const bool hidden = !isVisible();
    if (DuStyle* style = DuAppStyle(); !style || !style->Close(this)) {
        close();
    }
    if (hidden && QApplication::quitOnLastWindowClosed()) {
        QApplication::quit();
    }
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (!m_bClosing && ShouldHideToTray()) {
        e->ignore();
        hide();
        return;
    }
    // Asked here rather than through Exit(): Qt ignores a close() made while this close
    // event runs, so the answer must decide this very event.
    if (!m_bClosing && !ConfirmExit()) {
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

void CMainFrame::Logout() {
    if (RefuseWhileQueueing(u"logout")) {
        return;
    }
    DuStyle* style = DuAppStyle();
    // Hiding the main window must not end the program while the login window runs.
    const bool quitOnClose = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    hide();
    if (style) {
        style->Show(this, kDuShowHide);
    }
    ResetLoginState();

    int loggedIn = 0;
    {
        CUserLoginDlg login(nullptr, 1);
        login.DoModal();
        loggedIn = login.m_nLoggedIn;
    }
    QApplication::setQuitOnLastWindowClosed(quitOnClose);
    if (loggedIn == 0) {
        m_bClosing = true; // the program ends: no exit question
        if (!style || !style->Close(this)) {
            close();
        }
        if (quitOnClose) {
            QApplication::quit();
        }
        return;
    }

    DeleteListMemorySpace();
    ClearPreview();
    m_strPreviewLocalDir.clear();
    if (m_pUploadList) {
        ui::AppMessage clear(ui::kMsgDeleteAllRows);
        ui::SendAppMessage(m_pUploadList, clear);
    }
    SetControlText(u"tab_predirview", u"        预览目录");
    ReloadDirTrees();
    SetControlText(u"copyright_text", u"暂无上传任务");
    SetControlText(u"version_text", u"0个文件");
    SetControlText(u"tab_uploadfile", u"   文件上传进度");
    if (style) {
        style->Show(this, kDuShowNormal);
    } else {
        show();
    }
    ShowUserInfo();
    LoadUpLoadTaskList();
}
