#include "ui/user_login_dlg.h"

#include "app/app_settings.h"
#include "app/global_var.h"
#include "base/local_config.h"
#include "base/log.h"
#include "media/open_with_shell.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "serverdir/server_dir_info.h"
#include "ui/check_version.h"
#include "ui/partner/partner_login.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"
#include "ui/skin/skin_font.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>

namespace {

const char16_t* const kRefNames[] = {
    u"checkbox_loginwin_remeberpwd",
    u"checkbox_loginwin_autologin",
    u"btn_login",
    u"btn_reg",
    u"btn_loginwin_forgetpwd",
    u"btn_loginwin_qq",
    u"btn_loginwin_sinablog",
    u"btn_loginwin_renblog",
    u"btn_loginwin_qqblog",
};

bool IsPartnerButton(std::u16string_view name) {
    static const char16_t* const kPartners[] = {
        u"btn_loginwin_sinablog", u"btn_logo_sinablog",   u"btn_loginwin_renblog",
        u"btn_logo_renblog",      u"btn_loginwin_qqblog", u"btn_logo_qqblog",
        u"btn_loginwin_qq",       u"btn_logo_qq",
    };
    for (const char16_t* partner : kPartners) {
        if (name == partner) {
            return true;
        }
    }
    return false;
}

bool FileExists(const std::u16string& path) {
    platform::FileAttributes attrs;
    return !path.empty() && platform::GetFileAttributesEx(path, attrs) && !attrs.isDirectory;
}

std::u16string EditText(const QLineEdit* edit) {
    return edit ? edit->text().trimmed().toStdU16String() : std::u16string();
}

// Two Base64 texts that differ only in letter case are different passwords, but the
// configuration writer keeps an old value that differs from the new one only in case.
bool DiffersOnlyInCase(const std::u16string& a, const std::u16string& b) {
    return a != b && QString::fromStdU16String(a).compare(QString::fromStdU16String(b),
                                                          Qt::CaseInsensitive) == 0;
}

} // namespace

const std::array<DuEventRow<CUserLoginDlg>, 11> CUserLoginDlg::s_events = {{
    {u"btn_login", kDuEventClick, &CUserLoginDlg::OnLogin},
    {u"btn_reg", kDuEventClick, &CUserLoginDlg::OnRegister},
    {u"btn_loginwin_forgetpwd", kDuEventClick, &CUserLoginDlg::OnForgetPwd},
    {u"btn_loginwin_sinablog", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_logo_sinablog", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_loginwin_renblog", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_logo_renblog", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_loginwin_qqblog", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_logo_qqblog", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_loginwin_qq", kDuEventClick, &CUserLoginDlg::OnPartner},
    {u"btn_logo_qq", kDuEventClick, &CUserLoginDlg::OnPartner},
}};

CUserLoginDlg::CUserLoginDlg(QWidget* parent, int noAutoLogin)
    : QDialog(parent), m_nNoAutoLogin(noAutoLogin) {
    setWindowTitle(QStringLiteral("用户登录"));
}

CUserLoginDlg::~CUserLoginDlg() {
    qApp->removeEventFilter(this);
    if (m_bBound) {
        if (DuStyle* style = DuAppStyle()) {
            style->Unbind(this);
        }
    }
}

int CUserLoginDlg::DoModal() {
    if (!OnInitDialog() || m_bEnded) {
        return QDialog::Rejected;
    }
    return exec();
}

bool CUserLoginDlg::OnInitDialog() {
    DuStyle* style = DuAppStyle();
    if (!style || !style->Bind(this, u"loginwin_win")) {
        return false;
    }
    m_bBound = true;
    if (DuImage* logo = style->ImageResources()->Find(u"logo"); logo && !logo->IsNull()) {
        setWindowIcon(QIcon(logo->Pixmap()));
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    DuWindow* window = style->Window(this);
    if (!window) {
        return false;
    }
    // The keyboard rules apply before the dialog's own key handling, whichever child of
    // this window has the input focus.
    qApp->installEventFilter(this);

    CreateEdits(window);
    LookUpControls(window);
    return FillRememberedValues();
}

bool CUserLoginDlg::CreateEdits(DuWindow* window) {
    const QFont font = SkinFont(QStringLiteral("宋体"), 13, 500);
    struct EditSpec {
        const char16_t* host;
        int id;
        QPointer<QLineEdit>* edit;
        const char* placeholder;
    };
    const EditSpec edits[] = {
        {u"edit_loginwin_username", kAccountEditId, &m_pAccountEdit, "手机号码"},
        {u"edit_loginwin_pwd", kPasswordEditId, &m_pPasswordEdit, "密码"},
    };
    for (const EditSpec& e : edits) {
        DuControl* host = window->Control(e.host);
        if (!host) {
            return false;
        }
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("edit_%1").arg(e.id));
        edit->setFrame(false);
        edit->setFocusPolicy(Qt::StrongFocus);
        edit->setGeometry(host->Rect());
        host->Adopt(edit);
        edit->setTextMargins(4, 0, 4, 0);
        edit->setFont(font);
        edit->setPlaceholderText(QString::fromUtf8(e.placeholder));
        // Transparent over the skin's field, text in the login window's grey-blue.
        edit->setStyleSheet(QStringLiteral(
            "QLineEdit { background: transparent; border: none; color: rgb(116, 130, 143);"
            " selection-background-color: rgb(47, 128, 208); selection-color: white;"
            " lineedit-password-character: 42; }"));
        edit->installEventFilter(this);
        *e.edit = edit;
        edit->update();
    }
    m_pPasswordEdit->setEchoMode(QLineEdit::Password);
    return true;
}

void CUserLoginDlg::LookUpControls(DuWindow* window) {
    for (int i = 0; i < kRefCount; ++i) {
        m_refs[i] = window->Control(kRefNames[i]);
    }
}

bool CUserLoginDlg::FillRememberedValues() {
    const std::u16string& path = CGlobalVar::m_strLocalConfigPath;
    if (!FileExists(path)) {
        ShowMessageBox(nullptr, u"登录失败，原因：本地配置文件不存在，请与供应商联系！", 1);
        return false;
    }
    LocalConfigValues config;
    if (!ReadLocalConfig(path, config)) {
        LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
        return false;
    }
    const std::u16string& userName = config.userName;
    const std::u16string& userPwd = config.userPwd;

    if (!userName.empty() && m_pAccountEdit) {
        m_pAccountEdit->setText(QString::fromStdU16String(userName));
    }
    if (!userPwd.empty()) {
        std::u16string password;
        if (DecodeRememberedPassword(userPwd, password) && m_pPasswordEdit) {
            m_pPasswordEdit->setText(QString::fromStdU16String(password));
        }
        if (m_refs[kRemember]) {
            m_refs[kRemember]->SetCheckState(true);
            m_refs[kRemember]->Redraw();
        }
    }
    if (IsAutoLoginValue(config.autoLogin)) {
        if (m_refs[kAutoLogin]) {
            m_refs[kAutoLogin]->SetCheckState(true);
            m_refs[kAutoLogin]->Redraw();
        }
        if (m_nNoAutoLogin == 0) {
            RunLogin();
        }
    }
    return true;
}

void CUserLoginDlg::ShowWaiting(bool visible) {
    DuStyle* style = DuAppStyle();
    DuWindow* window = style ? style->Window(this) : nullptr;
    if (DuControl* waiting = window ? window->Control(u"static_loginwin_waiting") : nullptr) {
        waiting->SetVisible(visible);
        waiting->Redraw();
    }
}

void CUserLoginDlg::CloseThroughToolkit() {
    m_bEnded = true;
    DuStyle* style = DuAppStyle();
    if (!style || !style->Close(this)) {
        done(QDialog::Rejected);
    }
}

void CUserLoginDlg::RunLogin() {
    m_strAccount = EditText(m_pAccountEdit);
    m_strPassword = EditText(m_pPasswordEdit);
    QWidget* owner = isVisible() ? this : nullptr;
    if (m_strAccount.empty()) {
        ShowMessageBox(owner, u"请输入用户名！", 1);
        return;
    }
    if (m_strPassword.empty()) {
        ShowMessageBox(nullptr, u"请输入密码！", 1);
        return;
    }
    CGlobalVar::m_strAccount = m_strAccount;
    CGlobalVar::m_strPassword = m_strPassword;

    DuStyle* style = DuAppStyle();
    if (!style || !style->Window(this)) {
        return;
    }
    ShowWaiting(true);

    const LoginAnswer login = ApiLogin(m_strAccount, m_strPassword);
    if (login.outcome != ApiOutcome::Ok) {
        ShowWaiting(false);
        ShowMessageBox(owner, LoginFailureText(login), 1);
        return;
    }
    GetAppSettings().SetUserInfo(login.uid.c_str(), login.token.c_str(), login.nick.c_str(),
                                 login.headface.c_str(), static_cast<int>(login.usedSpace),
                                 static_cast<int>(login.totalSpace));

    if (CheckVersionUpdate(true) == 1) {
        m_nLoggedIn = 0;
        CloseThroughToolkit();
        return;
    }

    const FolderListAnswer folders = ApiGetFolderList(LoginKind::Account);
    const std::u16string failure = FolderListFailureText(folders, LoginKind::Account);
    if (!failure.empty()) {
        ShowWaiting(false);
        ShowMessageBox(owner, failure, 1);
        return;
    }
    if (folders.outcome == ApiOutcome::Ok && folders.hasList) {
        WriteServerDirInfo(folders.folders);
    }

    m_nLoggedIn = 1;
    SaveCredentials();
}

void CUserLoginDlg::SaveCredentials() {
    const std::u16string& path = CGlobalVar::m_strLocalConfigPath;
    LocalConfigValues old;
    if (!ReadLocalConfig(path, old)) {
        LogError(u"Failed to call xml.Read, errorcode is %d", platform::GetLastErrorCode());
        return;
    }
    const bool remember = m_refs[kRemember] && m_refs[kRemember]->CheckState();
    const bool autoLogin = m_refs[kAutoLogin] && m_refs[kAutoLogin]->CheckState();
    const std::u16string userPwd = remember ? EncodeRememberedPassword(m_strPassword) : u"";
    bool saved = true;
    if (DiffersOnlyInCase(old.userPwd, userPwd)) {
        saved = WriteLocalConfigValues(path, {{u"UserPwd", u""}});
    }
    saved = saved && WriteLocalConfigValues(path, {{u"UserName", m_strAccount},
                                                   {u"UserPwd", userPwd},
                                                   {u"AutoLogin", autoLogin ? u"true" : u"false"}});
    if (!saved) {
        LogError(u"Failed to save the local config file, errorcode is %d",
                 platform::GetLastErrorCode());
    }
    CloseThroughToolkit();
}

bool CUserLoginDlg::event(QEvent* e) {
    if (SkinEvent* skin = AsSkinEvent(e)) {
        DuDispatchEvent<CUserLoginDlg>(this, s_events, *skin);
        return true;
    }
    return QDialog::event(e);
}

bool CUserLoginDlg::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::FocusIn &&
        (watched == m_pAccountEdit.data() || watched == m_pPasswordEdit.data())) {
        // Typing goes to the edit now; the skin's focus look leaves the buttons.
        DuStyle* style = DuAppStyle();
        if (DuWindow* window = style ? style->Window(this) : nullptr) {
            if (DuControl* previous = window->FocusedControl()) {
                window->SetFocusedControl(nullptr);
                previous->Redraw();
            }
        }
        return false;
    }
    if (e->type() != QEvent::KeyPress) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || !isEnabled()) {
        return false;
    }
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Tab) {
        return OnTabKey();
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        DuStyle* style = DuAppStyle();
        if (!style || !style->Window(this)) {
            return false;
        }
        OnEnterKey();
        return true;
    }
    return false;
}

bool CUserLoginDlg::HasAllRefs() const {
    for (DuControl* ref : m_refs) {
        if (!ref) {
            return false;
        }
    }
    return true;
}

bool CUserLoginDlg::AnyRefFocused() const {
    for (DuControl* ref : m_refs) {
        if (ref && ref->HasFocusedLook()) {
            return true;
        }
    }
    return false;
}

bool CUserLoginDlg::OnTabKey() {
    DuStyle* style = DuAppStyle();
    DuWindow* window = style ? style->Window(this) : nullptr;
    if (!window || !HasAllRefs()) {
        return false;
    }
    QWidget* focus = QApplication::focusWidget();
    if (!AnyRefFocused()) {
        if (focus && focus == m_pAccountEdit.data()) {
            if (m_pPasswordEdit) {
                m_pPasswordEdit->setFocus(Qt::TabFocusReason);
            }
            return true;
        }
        if (focus && focus == m_pPasswordEdit.data()) {
            setFocus(Qt::TabFocusReason); // keys now belong to the skin's controls
            window->SetFocusedControl(m_refs[kRemember]);
            m_refs[kRemember]->Redraw();
            return true;
        }
    }
    int current = -1;
    for (int i = 0; i < kRefCount; ++i) {
        if (m_refs[i]->HasFocusedLook()) {
            current = i;
            break;
        }
    }
    if (current < 0 || current == kRefCount - 1) {
        // Past the last partner button (or from nowhere) the account edit comes next.
        DuControl* previous = current < 0 ? nullptr : m_refs[current];
        window->SetFocusedControl(nullptr);
        if (previous) {
            previous->SetFocusedLook(false);
            previous->Redraw();
        }
        if (m_pAccountEdit) {
            m_pAccountEdit->setFocus(Qt::TabFocusReason);
        }
        return true;
    }
    DuControl* previous = m_refs[current];
    DuControl* next = m_refs[current + 1];
    previous->SetFocusedLook(false);
    window->SetFocusedControl(next);
    previous->Redraw();
    next->Redraw();
    return true;
}

void CUserLoginDlg::OnEnterKey() {
    DuStyle* style = DuAppStyle();
    DuWindow* window = style ? style->Window(this) : nullptr;
    DuControl* focused = window ? window->FocusedControl() : nullptr;
    if (!focused) {
        RunLogin();
        return;
    }
    if (focused->Kind() == DuKind::CheckButton) {
        focused->SetCheckState(!focused->CheckState());
        focused->Redraw();
        return;
    }
    const std::u16string_view name = focused->Name();
    if (name == u"btn_login") {
        RunLogin();
    } else if (name == u"btn_reg") {
        OpenPage("/user/register");
    } else if (name == u"btn_loginwin_forgetpwd") {
        OpenPage("/user/repwd");
    } else if (IsPartnerButton(name)) {
        OnPartner(focused, 0, 0);
    } else {
        RunLogin();
    }
}

void CUserLoginDlg::OpenPage(const char* path) {
    const std::string url = hosts::WebsiteBase() + path;
    const std::u16string wide(url.begin(), url.end());
    OpenWithShell(wide.c_str());
}

void CUserLoginDlg::OnLogin(DuControl*, std::intptr_t, std::intptr_t) {
    RunLogin();
}

void CUserLoginDlg::OnRegister(DuControl*, std::intptr_t, std::intptr_t) {
    OpenPage("/user/register");
}

void CUserLoginDlg::OnForgetPwd(DuControl*, std::intptr_t, std::intptr_t) {
    OpenPage("/user/repwd");
}

void CUserLoginDlg::OnPartner(DuControl* control, std::intptr_t, std::intptr_t) {
    const PartnerOutcome outcome = RunPartnerLogin(this, control ? control->Name() : u"");
    if (outcome != PartnerOutcome::StayOpen) {
        m_nLoggedIn = outcome == PartnerOutcome::CloseLoggedIn ? 1 : 0;
        CloseThroughToolkit();
    }
}
