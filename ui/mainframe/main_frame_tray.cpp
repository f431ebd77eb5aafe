// The tray icon: the program's icon with the progress line as its tip, a menu to show the
// window, pause or resume every upload and exit; and, when the user asked for it, closing
// or minimising the window while uploads run keeps the program there instead of ending it.
#include "ui/mainframe/main_frame.h"

#include "app/user_prefs.h"
#include "ui/skin/du_style.h"

#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

struct TrayItem {
    int id; // 0 for a separator
    const char16_t* text;
};

constexpr TrayItem kTrayMenu[] = {
    {kCmdShowWindow, u"显示主窗口"}, {0, nullptr}, {kCmdPauseAll, u"全部暂停"},
    {kCmdResumeAll, u"全部继续"},    {0, nullptr}, {kCmdExit, u"退出(&X)"},
};

} // namespace

void CMainFrame::BuildTrayMenu(QMenu& menu) {
    for (const TrayItem& item : kTrayMenu) {
        if (item.id == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdU16String(item.text));
        action->setData(item.id);
    }
}

void CMainFrame::CreateTray() {
    // Without a tray the window behaves as it always did.
    if (m_pTray || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    m_pTray = new QSystemTrayIcon(windowIcon(), this);
    auto* menu = new QMenu(this);
    BuildTrayMenu(*menu);
    connect(menu, &QMenu::triggered, this,
            [this](QAction* action) { OnCommand(action->data().toInt()); });
    m_pTray->setContextMenu(menu);
    m_pTray->setToolTip(windowTitle());
    connect(m_pTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    ShowFromTray();
                }
            });
    m_pTray->show();
}

bool CMainFrame::ShouldHideToTray() {
    return m_pTray && m_pTray->isVisible() && prefs::Current().trayWhileUploading &&
           PendingTaskCount() > 0;
}

void CMainFrame::ShowFromTray() {
    if (DuStyle* style = DuAppStyle()) {
        style->Show(this, kDuShowNormal);
    }
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) {
        SyncMaximizeButton();
    }
    if (e->type() == QEvent::WindowStateChange && isMinimized() && ShouldHideToTray()) {
        // Not inside the state change itself: the window manager is still busy with it.
        QTimer::singleShot(0, this, [this]() {
            if (isMinimized()) {
                hide();
            }
        });
    }
}
