// The login window against a real qumo-service: remembered values, automatic login, every
// failure message, the configuration file written back, the keyboard rules and the pages.
#include "base/local_config.h"
#include "login_env.h"
#include "net/api_calls.h"
#include "ui/user_login_dlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QtTest/QTest>

#include <sys/stat.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using logintest::ConfigXml;
using logintest::DemoMobile;
using logintest::DemoPassword;
using ui::testing::MsgAnswer;
using ui::testing::MsgBoxAnswerer;

const char* const kDemoPwdBase64 = "cXVtbzIwMTI="; // Base64 of "qumo2012"

// Counts how often a widget was shown.
class ShowCounter : public QObject {
public:
    int shows = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) {
            ++shows;
        }
        return false;
    }
};

class LoginDlg : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service_ = new ServiceProcess;
        ASSERT_TRUE(service_->Start({"--demo"})) << service_->Error();
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(service_, nullptr);
        hosts::SetAllServiceHosts(service_->ApiHost());
        hosts::SetWebsite("www.qumo.localhost:" + std::to_string(service_->ApiPort()));
        style_ = duLoadStyleW(
            platform::FromNarrow(std::string(QUMO_SOURCE_DIR) + "/skin/blue/config.xml").c_str());
        ASSERT_NE(style_, nullptr);
        DuSetAppStyle(style_.get());
        logintest::ClearAccount();
        std::filesystem::remove(DirInfoPath());
    }
    void TearDown() override {
        DuSetAppStyle(nullptr);
        style_.reset();
    }

    DuControl* Control(CUserLoginDlg& dlg, const char16_t* name) {
        DuWindow* w = style_->Window(&dlg);
        return w ? w->Control(name) : nullptr;
    }
    void Click(CUserLoginDlg& dlg, const char16_t* name) {
        DuControl* c = Control(dlg, name);
        ASSERT_NE(c, nullptr);
        QTest::mouseClick(c->Widget(), Qt::LeftButton);
    }
    void ShowActive(CUserLoginDlg& dlg) {
        dlg.show();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    }
    std::filesystem::path DirInfoPath() const {
        return inst_.Root() / "lib" / "tmp" / "ServerDirInfo.xml";
    }
    long long Logins() const { return service_->Counter("logins"); }
    long long FailedLogins() const { return service_->Counter("failed_logins"); }

    static ServiceProcess* service_;
    logintest::Installation inst_;
    std::unique_ptr<DuStyle> style_;
};
ServiceProcess* LoginDlg::service_ = nullptr;

TEST_F(LoginDlg, SuccessFillsTheAccountWritesTheFolderListAndRemembersOwnerOnly) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("用户登录"));
    EXPECT_TRUE(dlg.AccountEdit()->text().isEmpty());
    EXPECT_FALSE(Control(dlg, u"checkbox_loginwin_remeberpwd")->CheckState());
    dlg.show();
    dlg.AccountEdit()->setText(QStringLiteral("  %1 ").arg(DemoMobile()));
    dlg.PasswordEdit()->setText(QString::fromUtf8(DemoPassword()));
    Control(dlg, u"checkbox_loginwin_remeberpwd")->SetCheckState(true);
    const long long before = Logins();

    Click(dlg, u"btn_login");

    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(dlg.m_nLoggedIn, 1);
    EXPECT_TRUE(dlg.Ended());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(Logins(), before + 1);
    EXPECT_TRUE(Control(dlg, u"static_loginwin_waiting")->IsVisible());
    EXPECT_EQ(CGlobalVar::m_strAccount, platform::FromNarrow(DemoMobile()));
    EXPECT_EQ(CGlobalVar::m_strPassword, platform::FromNarrow(DemoPassword()));
    EXPECT_FALSE(CGlobalVar::m_strUid.empty());
    EXPECT_FALSE(CGlobalVar::m_strNick.empty());
    EXPECT_GT(CGlobalVar::m_nTotalSpace, 0);
    EXPECT_NE(GetAppSettings().m_szToken[0], 0);
    EXPECT_EQ(std::string(GetAppSettings().m_szUid), CGlobalVar::m_strUidA);

    // The folder list became the server folder file, root folder included.
    ASSERT_TRUE(std::filesystem::exists(DirInfoPath()));
    const std::string dirs = logintest::Utf16FileText(DirInfoPath());
    EXPECT_NE(dirs.find("<ServerUserDir"), std::string::npos) << dirs;
    EXPECT_NE(dirs.find("<BootDir"), std::string::npos) << dirs;

    // Written back as UTF-16LE, the password as Base64 of its UTF-8 bytes, owner only.
    const std::string bytes = logintest::ReadBytes(inst_.ConfigPath());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const std::string text = logintest::Utf16FileText(inst_.ConfigPath());
    EXPECT_NE(text.find(std::string("<UserName>") + DemoMobile() + "</UserName>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(std::string("<UserPwd>") + kDemoPwdBase64 + "</UserPwd>"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<AutoLogin>false</AutoLogin>"), std::string::npos) << text;
    EXPECT_NE(text.find("<Version>1.0.0</Version>"), std::string::npos) << text;
    struct stat st {};
    ASSERT_EQ(::stat(inst_.ConfigPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LoginDlg, ClearedRememberBoxErasesThePasswordAndCaseOnlyChangesAreStored) {
    // A remembered password whose Base64 differs from the new one only in letter case.
    inst_.WriteConfig(ConfigXml(DemoMobile(), "CxVTBZiWmTi=", "false"));
    MsgBoxAnswerer answerer;
    {
        CUserLoginDlg dlg(nullptr, 0);
        ASSERT_TRUE(dlg.OnInitDialog());
        EXPECT_TRUE(Control(dlg, u"checkbox_loginwin_remeberpwd")->CheckState());
        dlg.PasswordEdit()->setText(QString::fromUtf8(DemoPassword()));
        dlg.RunLogin();
        ASSERT_EQ(dlg.m_nLoggedIn, 1);
        LocalConfigValues v;
        ASSERT_TRUE(ReadLocalConfig(platform::FromNarrow(inst_.ConfigPath().string()), v));
        EXPECT_EQ(v.userPwd, platform::FromNarrow(kDemoPwdBase64));
    }
    {
        CUserLoginDlg dlg(nullptr, 1);
        ASSERT_TRUE(dlg.OnInitDialog());
        EXPECT_EQ(dlg.PasswordEdit()->text(), QString::fromUtf8(DemoPassword()));
        Control(dlg, u"checkbox_loginwin_remeberpwd")->SetCheckState(false);
        Control(dlg, u"checkbox_loginwin_autologin")->SetCheckState(true);
        dlg.RunLogin();
        ASSERT_EQ(dlg.m_nLoggedIn, 1);
        LocalConfigValues v;
        ASSERT_TRUE(ReadLocalConfig(platform::FromNarrow(inst_.ConfigPath().string()), v));
        EXPECT_EQ(v.userPwd, u"");
        EXPECT_EQ(v.autoLogin, u"true");
        EXPECT_EQ(v.userName, platform::FromNarrow(DemoMobile()));
    }
    EXPECT_TRUE(answerer.Texts().empty());
}

TEST_F(LoginDlg, WrongPasswordShowsTheServiceTextAndChangesNothing) {
    const std::string config = ConfigXml(DemoMobile(), "", "false");
    inst_.WriteConfig(config);
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    dlg.PasswordEdit()->setText(QStringLiteral("wrong-password"));
    const long long failed = FailedLogins();
    Click(dlg, u"btn_login");

    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"用户名或密码错误，请重新输入！"});
    EXPECT_EQ(FailedLogins(), failed + 1);
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
    EXPECT_FALSE(dlg.Ended());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(Control(dlg, u"static_loginwin_waiting")->IsVisible());
    EXPECT_FALSE(std::filesystem::exists(DirInfoPath()));
    EXPECT_EQ(logintest::ReadBytes(inst_.ConfigPath()), config);
}

TEST_F(LoginDlg, EmptyFieldsAreRefusedBeforeAnyRequest) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    const long long calls = service_->Counter("api_calls");
    dlg.PasswordEdit()->setText(QStringLiteral("x"));
    dlg.RunLogin();
    dlg.AccountEdit()->setText(QStringLiteral("   "));
    dlg.RunLogin();
    dlg.AccountEdit()->setText(QString::fromUtf8(DemoMobile()));
    dlg.PasswordEdit()->setText(QStringLiteral(" \t "));
    dlg.RunLogin();
    EXPECT_EQ(answerer.Texts(),
              (std::vector<std::u16string>{u"请输入用户名！", u"请输入用户名！", u"请输入密码！"}));
    EXPECT_EQ(service_->Counter("api_calls"), calls);
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
}

TEST_F(LoginDlg, UnreachableServiceGivesTheNetworkMessageAfterThreeAttempts) {
    // A listener that takes each connection and closes it without a word.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t n = sizeof a;
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n), 0);
    ASSERT_EQ(::listen(fd, 16), 0);
    std::atomic<int> accepted{0};
    std::atomic<bool> stop{false};
    std::thread closer([&]() {
        while (!stop) {
            const int c = ::accept(fd, nullptr, nullptr);
            if (c < 0) {
                break;
            }
            if (!stop) {
                ++accepted;
            }
            ::close(c);
        }
    });
    hosts::SetAllServiceHosts("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));

    inst_.WriteConfig(ConfigXml(DemoMobile(), kDemoPwdBase64, "false"));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.RunLogin();
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"登录失败，请检查网络！"});
    EXPECT_EQ(accepted.load(), 3);
    EXPECT_EQ(dlg.m_nLoggedIn, 0);

    // Nobody listening at all: the same message.
    hosts::SetAllServiceHosts("127.0.0.1:" + std::to_string(logintest::FreePort()));
    answerer.Clear();
    dlg.RunLogin();
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"登录失败，请检查网络！"});

    stop = true;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    closer.join();
}

TEST_F(LoginDlg, MissingOrUnreadableConfigurationEndsCreation) {
    {
        MsgBoxAnswerer answerer;
        CUserLoginDlg dlg(nullptr, 0);
        ShowCounter shows;
        dlg.installEventFilter(&shows);
        dlg.DoModal();
        EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{
                                        u"登录失败，原因：本地配置文件不存在，请与供应商联系！"});
        EXPECT_EQ(shows.shows, 0);
        EXPECT_EQ(dlg.m_nLoggedIn, 0);
    }
    {
        inst_.WriteConfig("");
        MsgBoxAnswerer answerer;
        CUserLoginDlg dlg(nullptr, 0);
        EXPECT_FALSE(dlg.OnInitDialog());
        EXPECT_TRUE(answerer.Texts().empty());
        EXPECT_NE(inst_.LogText().find("Failed to call xml.Read, errorcode is"), std::string::npos);
    }
}

TEST_F(LoginDlg, RememberedAutomaticLoginHappensDuringCreationWithoutShowing) {
    inst_.WriteConfig(ConfigXml(DemoMobile(), kDemoPwdBase64, " TRUE "));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ShowCounter shows;
    dlg.installEventFilter(&shows);
    const long long before = Logins();
    dlg.DoModal();
    EXPECT_EQ(dlg.m_nLoggedIn, 1);
    EXPECT_EQ(shows.shows, 0);
    EXPECT_EQ(Logins(), before + 1);
    EXPECT_TRUE(answerer.Texts().empty());
    LocalConfigValues v;
    ASSERT_TRUE(ReadLocalConfig(platform::FromNarrow(inst_.ConfigPath().string()), v));
    EXPECT_TRUE(IsAutoLoginValue(v.autoLogin)); // "TRUE" stays: a change of case is none
    EXPECT_EQ(v.userPwd, platform::FromNarrow(kDemoPwdBase64));
}

TEST_F(LoginDlg, AfterLogoutTheValuesAreFilledInButNoLoginStarts) {
    inst_.WriteConfig(ConfigXml(DemoMobile(), kDemoPwdBase64, "true"));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 1);
    const long long before = Logins();
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(Logins(), before);
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
    EXPECT_FALSE(dlg.Ended());
    EXPECT_EQ(dlg.AccountEdit()->text(), QString::fromUtf8(DemoMobile()));
    EXPECT_EQ(dlg.PasswordEdit()->text(), QString::fromUtf8(DemoPassword()));
    EXPECT_EQ(dlg.PasswordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Control(dlg, u"checkbox_loginwin_remeberpwd")->CheckState());
    EXPECT_TRUE(Control(dlg, u"checkbox_loginwin_autologin")->CheckState());
    EXPECT_TRUE(answerer.Texts().empty());
}

TEST_F(LoginDlg, BrokenRememberedPasswordLeavesTheEditEmpty) {
    inst_.WriteConfig(ConfigXml(DemoMobile(), "%%%not-base64", "false"));
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(dlg.PasswordEdit()->text().isEmpty());
    EXPECT_EQ(dlg.AccountEdit()->text(), QString::fromUtf8(DemoMobile()));
}

TEST_F(LoginDlg, TabVisitsEveryControlAndReturnsToTheAccountEdit) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    ShowActive(dlg);
    dlg.AccountEdit()->setFocus();
    ASSERT_TRUE(dlg.AccountEdit()->hasFocus());
    DuWindow* w = style_->Window(&dlg);

    auto where = [&]() -> std::u16string {
        if (DuControl* c = w->FocusedControl()) {
            return c->Name();
        }
        QWidget* f = QApplication::focusWidget();
        if (f == dlg.AccountEdit()) {
            return u"account";
        }
        if (f == dlg.PasswordEdit()) {
            return u"password";
        }
        return u"?";
    };
    std::vector<std::u16string> visited;
    for (int i = 0; i < 11; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(where());
        // Exactly one control shows the focused look while the skin has the focus.
        int looks = 0;
        for (const char16_t* name :
             {u"checkbox_loginwin_remeberpwd", u"checkbox_loginwin_autologin", u"btn_login",
              u"btn_reg", u"btn_loginwin_forgetpwd", u"btn_loginwin_qq", u"btn_loginwin_sinablog",
              u"btn_loginwin_renblog", u"btn_loginwin_qqblog"}) {
            looks += Control(dlg, name)->HasFocusedLook() ? 1 : 0;
        }
        EXPECT_EQ(looks, w->FocusedControl() ? 1 : 0) << i;
    }
    const std::vector<std::u16string> expected = {
        u"password",
        u"checkbox_loginwin_remeberpwd",
        u"checkbox_loginwin_autologin",
        u"btn_login",
        u"btn_reg",
        u"btn_loginwin_forgetpwd",
        u"btn_loginwin_qq",
        u"btn_loginwin_sinablog",
        u"btn_loginwin_renblog",
        u"btn_loginwin_qqblog",
        u"account",
    };
    EXPECT_EQ(visited, expected);
}

TEST_F(LoginDlg, SpaceInAnEditLogsInAndNeverReachesTheEdit) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    ShowActive(dlg);
    dlg.AccountEdit()->setFocus();
    QTest::keyClick(dlg.AccountEdit(), Qt::Key_Space);
    EXPECT_TRUE(dlg.AccountEdit()->text().isEmpty());
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"请输入用户名！"});

    QTest::keyClicks(dlg.AccountEdit(), QString::fromUtf8(DemoMobile()));
    dlg.PasswordEdit()->setFocus();
    QTest::keyClicks(dlg.PasswordEdit(), QString::fromUtf8(DemoPassword()));
    QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Space);
    EXPECT_EQ(dlg.PasswordEdit()->text(), QString::fromUtf8(DemoPassword()));
    EXPECT_EQ(dlg.m_nLoggedIn, 1);
    EXPECT_TRUE(dlg.Ended());
    EXPECT_EQ(answerer.Texts().size(), 1u);
}

TEST_F(LoginDlg, EnterTogglesAFocusedCheckButtonAndOpensFocusedPages) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 0);
    ASSERT_TRUE(dlg.OnInitDialog());
    ShowActive(dlg);
    dlg.PasswordEdit()->setFocus();
    QTest::keyClick(dlg.PasswordEdit(), Qt::Key_Tab); // the remember box
    DuControl* remember = Control(dlg, u"checkbox_loginwin_remeberpwd");
    ASSERT_TRUE(remember->HasFocusedLook());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(remember->CheckState());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(remember->CheckState());
    EXPECT_TRUE(answerer.Texts().empty()); // no login was started

    for (int i = 0; i < 3; ++i) { // auto-login, login, register
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    ASSERT_TRUE(Control(dlg, u"btn_reg")->HasFocusedLook());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    const std::string site = "http://www.qumo.localhost:" + std::to_string(service_->ApiPort());
    // Each page goes to its own opener process: they may log in either order.
    std::vector<std::string> opened = inst_.Opened(2);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(opened, (std::vector<std::string>{site + "/user/register", site + "/user/repwd"}));

    // A click on the register button opens the same page.
    Click(dlg, u"btn_reg");
    EXPECT_EQ(inst_.Opened(3).size(), 3u);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
}

TEST_F(LoginDlg, TheCloseButtonEndsTheRunWithoutALogin) {
    inst_.WriteConfig(ConfigXml("", "", "false"));
    CUserLoginDlg dlg(nullptr, 0);
    QTimer::singleShot(0, &dlg, [&]() { Click(dlg, u"btn_loginwin_close"); });
    dlg.DoModal();
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
    EXPECT_FALSE(dlg.isVisible());
}

} // namespace
