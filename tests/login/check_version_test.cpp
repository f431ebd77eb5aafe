// The version check in both forms against a service that offers version 2.0, and its place
// in the login.
#include "login_env.h"
#include "ui/check_version.h"
#include "ui/user_login_dlg.h"

#include <vector>

namespace {

using logintest::ConfigXml;
using ui::testing::MsgAnswer;
using ui::testing::MsgBoxAnswerer;
using ui::testing::MsgRecord;

const char16_t* const kAsk = u"已有新版本，现在进行升级？";

class CheckVersion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service_ = new ServiceProcess;
        ASSERT_TRUE(service_->Start({"--demo", "--latest-version", "2.0"})) << service_->Error();
    }
    static void TearDownTestSuite() {
        delete service_;
        service_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(service_, nullptr);
        hosts::SetAllServiceHosts(service_->ApiHost());
        style_ = duLoadStyleW(
            platform::FromNarrow(std::string(QUMO_SOURCE_DIR) + "/skin/blue/config.xml").c_str());
        ASSERT_NE(style_, nullptr);
        DuSetAppStyle(style_.get());
        logintest::ClearAccount();
    }
    void TearDown() override {
        DuSetAppStyle(nullptr);
        style_.reset();
    }
    void Version(const std::string& v) { inst_.WriteConfig(ConfigXml("", "", "false", v)); }
    long long Calls() const { return service_->Counter("api_calls"); }

    static ServiceProcess* service_;
    logintest::Installation inst_;
    std::unique_ptr<DuStyle> style_;
};
ServiceProcess* CheckVersion::service_ = nullptr;

TEST_F(CheckVersion, CurrentVersionIsSilentOrReportedAsLatest) {
    Version(" 2.0 ");
    MsgBoxAnswerer answerer;
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    ASSERT_EQ(answerer.Records().size(), 1u);
    EXPECT_EQ(answerer.Records()[0].text, u"目前已是最新版本，不需要升级！");
    EXPECT_EQ(answerer.Records()[0].oneButton, 1);
    EXPECT_TRUE(inst_.Opened(0).empty());
}

TEST_F(CheckVersion, AcceptedUpdateOpensItsAddress) {
    Version("1.0.0");
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);
    EXPECT_EQ(CheckVersionUpdate(true), 1);
    EXPECT_EQ(CheckVersionUpdate(false), 0); // the menu form has no result
    const std::vector<MsgRecord> records = answerer.Records();
    ASSERT_EQ(records.size(), 2u);
    for (const MsgRecord& r : records) {
        EXPECT_EQ(r.text, kAsk);
        EXPECT_EQ(r.oneButton, 0);
    }
    const std::vector<std::string> opened = inst_.Opened(2);
    ASSERT_EQ(opened.size(), 2u);
    for (const std::string& url : opened) {
        EXPECT_EQ(url.rfind("http://", 0), 0u) << url;
        EXPECT_NE(url.find("/download/QumoClient-2.0.exe"), std::string::npos) << url;
    }
}

TEST_F(CheckVersion, DeclinedUpdateOpensNothing) {
    Version("1.9.9");
    MsgBoxAnswerer answerer(MsgAnswer::Decline);
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_EQ(answerer.Texts(), (std::vector<std::u16string>{kAsk, kAsk}));
    // The caption's close button declines as well.
    MsgBoxAnswerer closer(MsgAnswer::Close);
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_TRUE(inst_.Opened(0).empty());
}

TEST_F(CheckVersion, FailingStatusesAreReportedOnlyInTheMenuForm) {
    Version("abc"); // no digits: the service answers status 400
    MsgBoxAnswerer answerer;
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"检查版本更新失败，请检查网络！"});

    // Status 405 carries the service's own text.
    logintest::CannedServer refused(
        R"({"status":405,"debug":"","message":"此版本已停止服务！","attachment":null})");
    hosts::SetUpdate(refused.Host());
    Version("1.0.0");
    answerer.Clear();
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"此版本已停止服务！"});

    // An answer that is not JSON ends both forms without a word.
    logintest::CannedServer garbage("<html>busy</html>");
    hosts::SetUpdate(garbage.Host());
    answerer.Clear();
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_TRUE(answerer.Texts().empty());
}

TEST_F(CheckVersion, UpdateAddressOtherThanTheWebIsNeitherOfferedNorOpened) {
    logintest::CannedServer local(
        R"({"status":200,"attachment":{"status":1,"updateurl":"file:///bin/sh"}})");
    hosts::SetUpdate(local.Host());
    Version("1.0.0");
    MsgBoxAnswerer answerer(MsgAnswer::Confirm);
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_TRUE(inst_.Opened(0).empty());
    EXPECT_NE(inst_.LogText().find("The update address is not a web address."), std::string::npos);
}

TEST_F(CheckVersion, EmptyVersionOrMissingFileSendsNothing) {
    MsgBoxAnswerer answerer;
    const long long calls = Calls();
    Version("   ");
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_NE(inst_.LogText().find("The version not in the config info file."), std::string::npos);
    std::filesystem::remove(inst_.ConfigPath());
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_NE(inst_.LogText().find("Failed to call xml.Read, errorcode is 2"), std::string::npos)
        << inst_.LogText();
    EXPECT_EQ(Calls(), calls);
    EXPECT_TRUE(answerer.Texts().empty());
}

TEST_F(CheckVersion, UnreachableUpdateHostIsReportedOnlyInTheMenuForm) {
    hosts::SetUpdate("127.0.0.1:" + std::to_string(logintest::FreePort()));
    Version("1.0.0");
    MsgBoxAnswerer answerer;
    EXPECT_EQ(CheckVersionUpdate(true), 0);
    EXPECT_TRUE(answerer.Texts().empty());
    EXPECT_EQ(CheckVersionUpdate(false), 0);
    EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{u"检查版本更新失败，请检查网络！"});
}

TEST_F(CheckVersion, LoginEndsWhenTheUpdateIsAcceptedAndGoesOnWhenDeclined) {
    inst_.WriteConfig(ConfigXml(logintest::DemoMobile(), "", "false", "1.0.0"));
    const std::string before = logintest::ReadBytes(inst_.ConfigPath());
    {
        MsgBoxAnswerer answerer(MsgAnswer::Confirm);
        CUserLoginDlg dlg(nullptr, 0);
        ASSERT_TRUE(dlg.OnInitDialog());
        dlg.PasswordEdit()->setText(QString::fromUtf8(logintest::DemoPassword()));
        dlg.RunLogin();
        EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{kAsk});
        EXPECT_EQ(dlg.m_nLoggedIn, 0);
        EXPECT_TRUE(dlg.Ended());
        EXPECT_EQ(logintest::ReadBytes(inst_.ConfigPath()), before);
        EXPECT_EQ(inst_.Opened(1).size(), 1u);
    }
    {
        MsgBoxAnswerer answerer(MsgAnswer::Decline);
        CUserLoginDlg dlg(nullptr, 0);
        ASSERT_TRUE(dlg.OnInitDialog());
        dlg.PasswordEdit()->setText(QString::fromUtf8(logintest::DemoPassword()));
        dlg.RunLogin();
        EXPECT_EQ(answerer.Texts(), std::vector<std::u16string>{kAsk});
        EXPECT_EQ(dlg.m_nLoggedIn, 1);
        EXPECT_TRUE(dlg.Ended());
        EXPECT_NE(logintest::ReadBytes(inst_.ConfigPath()), before);
    }
}

} // namespace
