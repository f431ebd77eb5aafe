// The partner logins of the login window on the real browser engine against a real
// qumo-service: a whole sign-in through the partner's form, the eight buttons and their
// keys, the window's sizes, a window closed without signing in, a zero-space account, the
// cookie watch at the home page, and the completion's failures. A partner login never
// touches the configuration file.
#include "../0support/raw_http.h"
#include "../login/login_env.h"
#include "net/hosts.h"
#include "partner_driver.h"
#include "serverdir/server_dir_info.h"
#include "ui/partner/partner_login.h"
#include "ui/partner/third_user_login.h"
#include "ui/partner/web_browser2.h"
#include "ui/skin/du_control.h"
#include "ui/skin/du_window.h"
#include "ui/user_login_dlg.h"

#include <QApplication>
#include <QScreen>
#include <QtTest/QTest>

#include <regex>

namespace {

using logintest::ConfigXml;
using partnertest::PartnerWindowDriver;
using ui::testing::MsgBoxAnswerer;

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The API targets the service received since the last call (exact request bytes).
std::vector<std::string> TargetsSince(const ServiceProcess& svc, std::size_t& seen) {
    Json::Value v;
    std::vector<std::string> all;
    if (ParseJson(svc.Admin("/admin/requests"), v)) {
        for (const Json::Value& r : v["attachment"]["requests"]) {
            all.push_back(r["target"].asString());
        }
    }
    std::vector<std::string> fresh;
    for (std::size_t i = seen; i < all.size(); ++i) {
        fresh.push_back(all[i]);
    }
    seen = all.size();
    return fresh;
}

class PartnerLogin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service_ = new ServiceProcess;
        ASSERT_TRUE(service_->Start()) << service_->Error();
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(service_, nullptr);
        const std::string port = std::to_string(service_->ApiPort());
        hosts::SetAllServiceHosts(service_->ApiHost());
        hosts::SetWebsite("www.qumo.localhost:" + port);
        hosts::SetPartnerLogin("open.qumo.localhost:" + port);
        inst_.InstallSkin();
        inst_.WriteConfig(kConfig);
        style_ = duLoadStyleW(
            platform::FromNarrow(std::string(QUMO_SOURCE_DIR) + "/skin/blue/config.xml").c_str());
        ASSERT_NE(style_, nullptr);
        DuSetAppStyle(style_.get());
        logintest::ClearAccount();
        TargetsSince(*service_, requests_);
    }
    void TearDown() override {
        // Nothing a partner login does may change the remembered account.
        EXPECT_EQ(logintest::ReadBytes(inst_.ConfigPath()), kConfig);
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
    std::string Port() const { return std::to_string(service_->ApiPort()); }
    std::u16string PartnerUrl(const char* path) const {
        return platform::FromNarrow("http://open.qumo.localhost:" + Port() + path);
    }
    // Makes the service's partner account (as its sign-in page does) without a browser.
    void MakePartnerAccount(const char* path, const std::string& account) {
        const std::string body = "account=" + account + "&password=pw";
        const std::string request =
            "POST " + std::string(path) + " HTTP/1.1\r\nHost: open.qumo.localhost:" + Port() +
            "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        RawResponse r;
        ASSERT_TRUE(RawExchange(service_->ApiPort(), request, r));
        ASSERT_EQ(r.status, 302) << r.body;
    }

    static constexpr const char* kConfig =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QumolanLocalConfig>\n"
        "  <UserName>13800138000</UserName>\n  <UserPwd>cXVtbzIwMTI=</UserPwd>\n"
        "  <AutoLogin>false</AutoLogin>\n  <Version>1.0.0</Version>\n</QumolanLocalConfig>\n";

    static ServiceProcess* service_;
    logintest::Installation inst_;
    std::unique_ptr<DuStyle> style_;
    std::size_t requests_ = 0;
};

ServiceProcess* PartnerLogin::service_ = nullptr;

TEST_F(PartnerLogin, SinaSignInThroughThePageLogsInAndWritesTheFolderTree) {
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 1);
    ASSERT_TRUE(dlg.OnInitDialog());
    PartnerWindowDriver driver(PartnerWindowDriver::Action::SignIn, "weibo_user", "pw-sina");
    Click(dlg, u"btn_loginwin_sinablog");

    ASSERT_EQ(driver.Seen().size(), 1u);
    EXPECT_EQ(driver.Seen()[0].startUrl, PartnerUrl("/openuser/sina"));
    EXPECT_EQ(driver.Seen()[0].kind, 1);
    EXPECT_EQ(driver.Seen()[0].title, QStringLiteral("酷摩岚第三方登录"));
    EXPECT_EQ(driver.Submitted(), 1);
    EXPECT_EQ(driver.TimedOut(), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(dlg.m_nLoggedIn, 1);
    EXPECT_TRUE(dlg.Ended());

    // The account's values come from the cookies and the space answer.
    const CAppSettings& s = GetAppSettings();
    const std::string uid = s.m_szUid, token = s.m_szToken;
    ASSERT_TRUE(std::regex_match(uid, std::regex("[1-9][0-9]*"))) << uid;
    ASSERT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{32}"))) << token;
    EXPECT_EQ(CGlobalVar::m_strUid, platform::FromNarrow(uid));
    EXPECT_EQ(std::string(s.m_szNick), "weibo_user");
    EXPECT_EQ(s.m_nTotalSpace, 1024);
    EXPECT_EQ(s.m_nUsedSpace, 0);
    EXPECT_EQ(TargetsSince(*service_, requests_),
              (std::vector<std::string>{"/packagemanager/versionupdateinfo.json?version=1.0.0",
                                        "/getspace.json?uid=" + uid + "&token=" + token,
                                        "/getfs.json?uid=" + uid + "&token=" + token +
                                            "&client=PC&pname=1.000.01"}));

    const std::string tree = logintest::Utf16FileText(platform::ToNarrow(ServerDirInfoPath()));
    EXPECT_NE(tree.find("name=\"我的酷摩岚\" fid=\"0\" parenterid=\"-1\""), std::string::npos)
        << tree;
    const std::string log = inst_.LogText();
    EXPECT_NE(log.find("[UserSpace] Used = 0; nTotal = 1024."), std::string::npos) << log;

    // The same partner account signs in again in a fresh browser (nothing was kept).
    logintest::ClearAccount();
    CUserLoginDlg again(nullptr, 1);
    ASSERT_TRUE(again.OnInitDialog());
    PartnerWindowDriver second(PartnerWindowDriver::Action::SignIn, "weibo_user", "pw-sina");
    Click(again, u"btn_logo_sinablog");
    EXPECT_EQ(second.Submitted(), 1) << "the form showed, so no cookie was left from before";
    EXPECT_EQ(again.m_nLoggedIn, 1);
    EXPECT_EQ(std::string(GetAppSettings().m_szUid), uid);
    EXPECT_NE(std::string(GetAppSettings().m_szToken), token) << "a new sign-in, a new token";
}

TEST_F(PartnerLogin, EveryButtonAndItsKeyOpenTheirPartnerAndAClosedWindowFails) {
    struct Case {
        const char16_t* button;
        const char* path;
        int kind;
        const char16_t* failure;
    };
    const Case cases[] = {
        {u"btn_loginwin_sinablog", "/openuser/sina", 1, u"新浪微博账户登录失败，请重试！"},
        {u"btn_logo_sinablog", "/openuser/sina", 1, u"新浪微博账户登录失败，请重试！"},
        {u"btn_loginwin_renblog", "/openuser/renren", 2, u"人人网账户登录失败，请重试！"},
        {u"btn_logo_renblog", "/openuser/renren", 2, u"人人网账户登录失败，请重试！"},
        {u"btn_loginwin_qqblog", "/openuser/qweibo", 3, u"腾讯微博账户登录失败，请重试！"},
        {u"btn_logo_qqblog", "/openuser/qweibo", 3, u"腾讯微博账户登录失败，请重试！"},
        {u"btn_loginwin_qq", "/qq/login", 0, u"QQ账户登录失败，请重试！"},
        {u"btn_logo_qq", "/qq/login", 0, u"QQ账户登录失败，请重试！"},
    };
    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 1);
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    DuControl* waiting = Control(dlg, u"static_loginwin_waiting");
    ASSERT_NE(waiting, nullptr);
    PartnerWindowDriver driver(PartnerWindowDriver::Action::Close);
    std::vector<std::u16string> expected;

    for (const Case& c : cases) {
        SCOPED_TRACE(platform::ToNarrow(c.button));
        waiting->SetVisible(true);
        Click(dlg, c.button);
        expected.push_back(c.failure);
        EXPECT_EQ(answerer.Texts(), expected);
        EXPECT_FALSE(waiting->IsVisible()) << "a failed partner login hides the indicator";
        ASSERT_EQ(driver.Seen().size(), expected.size());
        EXPECT_EQ(driver.Seen().back().startUrl, PartnerUrl(c.path));
        EXPECT_EQ(driver.Seen().back().kind, c.kind);
    }

    // Enter and Space on a focused partner button of the keyboard chain.
    DuWindow* window = style_->Window(&dlg);
    window->SetFocusedControl(Control(dlg, u"btn_loginwin_qqblog"));
    QTest::keyClick(&dlg, Qt::Key_Return);
    window->SetFocusedControl(Control(dlg, u"btn_loginwin_qq"));
    QTest::keyClick(&dlg, Qt::Key_Space);
    ASSERT_EQ(driver.Seen().size(), 10u);
    EXPECT_EQ(driver.Seen()[8].startUrl, PartnerUrl("/openuser/qweibo"));
    EXPECT_EQ(driver.Seen()[9].startUrl, PartnerUrl("/qq/login"));
    expected.push_back(u"腾讯微博账户登录失败，请重试！");
    expected.push_back(u"QQ账户登录失败，请重试！");
    EXPECT_EQ(answerer.Texts(), expected);

    EXPECT_EQ(driver.TimedOut(), 0);
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
    EXPECT_FALSE(dlg.Ended());
    EXPECT_TRUE(dlg.isVisible()) << "the login window stays for another try";
    EXPECT_TRUE(TargetsSince(*service_, requests_).empty()) << "no API call without a sign-in";
}

TEST_F(PartnerLogin, TencentWeiboWindowIsTallerAndTheOthersNarrowerAndShorter) {
    const QSize tall(CThirdUserLogin::kTemplateWidth, CThirdUserLogin::kTemplateHeight + 200);
    const QSize small(CThirdUserLogin::kTemplateWidth - 200,
                      CThirdUserLogin::kTemplateHeight - 100);
    for (int kind = 0; kind <= 3; ++kind) {
        SCOPED_TRACE(kind);
        CThirdUserLogin w(nullptr, u"", kind);
        ASSERT_TRUE(w.OnInitDialog());
        w.show();
        // No larger than the screen (the test's is 800 pixels wide).
        EXPECT_EQ(w.size(), (kind == 3 ? tall : small).boundedTo(w.screen()->availableSize()));
        // The browser fills the whole client area.
        EXPECT_EQ(w.Browser()->geometry(), QRect(QPoint(0, 0), w.size()));
        EXPECT_TRUE(w.TimerRunning());
        EXPECT_EQ(w.Browser()->GetLocationURL(), u"") << "no start address, no navigation";
        w.close();
        EXPECT_EQ(w.m_nSucceeded, 0);
    }
}

TEST_F(PartnerLogin, TheHomePageWithoutCookiesIsLoggedAtEveryTickUntilClosed) {
    CThirdUserLogin w(nullptr, CThirdUserLogin::CompletionAddress(), 1);
    ASSERT_TRUE(w.OnInitDialog());
    w.show();
    const std::string line = "fail to Read IE QumoCookie in ThirdUserLogin";
    EXPECT_TRUE(QTest::qWaitFor([&]() { return Count(inst_.LogText(), line) >= 5; }, 20000));
    EXPECT_TRUE(w.TimerRunning()) << "the window waits for the user";
    EXPECT_TRUE(w.isVisible());
    w.close();
    EXPECT_FALSE(w.TimerRunning());
    const int lines = Count(inst_.LogText(), line);
    QTest::qWait(200);
    EXPECT_EQ(Count(inst_.LogText(), line), lines) << "a closed window watches no more";
    EXPECT_EQ(w.m_nSucceeded, 0);
    EXPECT_EQ(w.m_strUid, u"");
    EXPECT_EQ(w.m_strUtoken, u"");
}

TEST_F(PartnerLogin, ZeroSpaceShowsTheSpaceMessageAndTheLoginWindowStaysOpen) {
    MakePartnerAccount("/qq/login", "zero_user");
    ASSERT_TRUE(service_->SetSpace("qq:zero_user", 0));
    TargetsSince(*service_, requests_);

    MsgBoxAnswerer answerer;
    CUserLoginDlg dlg(nullptr, 1);
    ASSERT_TRUE(dlg.OnInitDialog());
    PartnerWindowDriver driver(PartnerWindowDriver::Action::SignIn, "zero_user", "pw");
    Click(dlg, u"btn_logo_qq");

    EXPECT_EQ(driver.Submitted(), 1);
    EXPECT_EQ(answerer.Texts(),
              std::vector<std::u16string>{u"登录失败，请检查用户名和密码，空间非法！"});
    EXPECT_EQ(dlg.m_nLoggedIn, 0);
    EXPECT_FALSE(dlg.Ended());
    DuControl* waiting = Control(dlg, u"static_loginwin_waiting");
    ASSERT_NE(waiting, nullptr);
    EXPECT_TRUE(waiting->IsVisible()) << "the indicator stays after a failed completion";
    // The partner's cookies are kept; the account's values were never set.
    EXPECT_FALSE(CGlobalVar::m_strUid.empty());
    EXPECT_EQ(GetAppSettings().m_szUid[0], 0);
    const std::vector<std::string> targets = TargetsSince(*service_, requests_);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[1].rfind("/getspace.json?uid=", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(platform::ToNarrow(ServerDirInfoPath())))
        << "no folder tree without a login";
    EXPECT_EQ(inst_.LogText().find("[UserSpace]"), std::string::npos);
}

TEST_F(PartnerLogin, CompletionFailuresShowTheirMessagesAndSendWhatTheyMust) {
    MsgBoxAnswerer answerer;

    // A token the service does not know: the space call is refused.
    CGlobalVar::m_strUid = u"1";
    CGlobalVar::m_strToken = u"not a token&x=1";
    EXPECT_EQ(CompletePartnerLogin(), 0);
    EXPECT_EQ(TargetsSince(*service_, requests_),
              std::vector<std::string>{"/getspace.json?uid=1&token=not+a+token%26x%3D1"});

    // A cookie too long for the account's store is refused before anything is sent.
    CGlobalVar::m_strUid = std::u16string(32, u'9');
    CGlobalVar::m_strToken = u"abc";
    EXPECT_EQ(CompletePartnerLogin(), 0);
    CGlobalVar::m_strUid = u"1";
    CGlobalVar::m_strToken = std::u16string(22, u'酷'); // 66 bytes escaped three times over
    EXPECT_EQ(CompletePartnerLogin(), 0);
    EXPECT_TRUE(TargetsSince(*service_, requests_).empty());

    // No service at all: three attempts, the log line, the retry message.
    hosts::SetAllServiceHosts("127.0.0.1:" + std::to_string(logintest::FreePort()));
    CGlobalVar::m_strToken = u"abc";
    EXPECT_EQ(CompletePartnerLogin(), 0);
    EXPECT_EQ(answerer.Texts(), (std::vector<std::u16string>{
                                    u"登录失败，请检查用户名和密码！",
                                    u"登录失败，请检查用户名和密码！",
                                    u"登录失败，请检查用户名和密码！",
                                    u"获取用户信息失败，请重试！",
                                }));
    EXPECT_NE(inst_.LogText().find("getspace.json HttpModuleGet error"), std::string::npos);
    EXPECT_EQ(GetAppSettings().m_szUid[0], 0);
}

// An https website is watched for, and its cookies read, over https: a browser page of an
// https deployment never goes to plain http.
TEST(PartnerAddresses, FollowTheWebsitesScheme) {
    const std::string saved = hosts::WebsiteBase();
    hosts::SetWebsite("https://www.qumo.example:8443");
    EXPECT_EQ(CThirdUserLogin::CompletionAddress(), u"https://www.qumo.example:8443/");
    EXPECT_EQ(CThirdUserLogin::CookieOrigin(), u"https://qumo.example:8443");
    hosts::SetWebsite(saved);
    EXPECT_EQ(hosts::WebsiteBase(), saved);
}

} // namespace
