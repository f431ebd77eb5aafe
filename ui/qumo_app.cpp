#include "ui/qumo_app.h"

#include "app/global_var.h"
#include "app/program_paths.h"
#include "net/http_body_file.h"
#include "platform/files.h"
#include "ui/mainframe/main_frame.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"
#include "ui/user_login_dlg.h"

#include <QApplication>

#include <unistd.h>

#include <climits>
#include <string>

namespace {

// The working folder moves up one level: started from the program folder, the program
// then works from the install root.
void ChangeToParentFolder() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) {
        return;
    }
    const std::string parent = std::string(buffer) + "/../";
    if (::chdir(parent.c_str()) != 0) {
        // Start-up does not depend on the working folder.
    }
}

bool SkinFileExists(const std::u16string& path) {
    platform::FileAttributes attrs;
    return platform::GetFileAttributesEx(path, attrs) && !attrs.isDirectory;
}

} // namespace

CQumoApp::CQumoApp() = default;

CQumoApp::~CQumoApp() {
    m_pMainWnd.reset();
    DuSetAppStyle(nullptr);
    m_pStyle.reset();
}

bool CQumoApp::InitInstance() {
    // The last window to close ends the program only once the main window exists; the
    // login window and message boxes of start-up close before that.
    QApplication::setQuitOnLastWindowClosed(false);

    m_pMainWnd = std::make_unique<CMainFrame>();
    ChangeToParentFolder();

    if (ComputeProgramPaths() && !CGlobalVar::m_strInstallRoot.empty()) {
        // A missing skin ends the program without a word, so it is not even looked for.
        if (SkinFileExists(CGlobalVar::m_strSkinPath)) {
            m_pStyle = duLoadStyleW(CGlobalVar::m_strSkinPath.c_str());
        }
        if (!m_pStyle) {
            return false;
        }
        DuSetAppStyle(m_pStyle.get());
    }

    if (CGlobalVar::IsAlreadyRunning()) {
        ShowMessageBox(nullptr, u"程序已经在运行！", 1);
        return false;
    }
    RemoveLeftBodyFiles();

    {
        CUserLoginDlg login(nullptr, 0);
        login.DoModal();
        if (login.m_nLoggedIn == 0) {
            return false;
        }
    }

    CGlobalVar::m_nUploadCtrl = 0;
    if (!m_pMainWnd->Create(kMainWindowTitle)) {
        return false;
    }
    QApplication::setQuitOnLastWindowClosed(true);
    m_pMainWnd->show();
    m_pMainWnd->repaint();
    return true;
}

QWidget* CQumoApp::MainWindow() const {
    return m_pMainWnd.get();
}

int CQumoApp::ExitInstance() {
    m_pMainWnd.reset();
    return m_nExitCode;
}
