// The web API calls against a real qumo-service, including its fault options.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/app_settings.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "tests/0support/raw_http.h"
#include "tests/api/service_session.h"

namespace {

class ApiCalls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service = new ServiceSession();
        ASSERT_TRUE(service->Start({"--latest-version", "1.0.0.5"}));
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    void SetUp() override { ASSERT_NE(service, nullptr); }
    void TearDown() override {
        service->Admin("/admin/faults?fail_next=0&chunked=0&close=0&delay_ms=0");
    }
    static ServiceSession* service;
};

ServiceSession* ApiCalls::service = nullptr;

TEST_F(ApiCalls, LoginRightWrongAndUnknown) {
    LoginAnswer ok = ApiLogin(u" 13800138000 ", u"qumo2012\t");
    ASSERT_EQ(ok.outcome, ApiOutcome::Ok);
    EXPECT_FALSE(ok.uid.empty());
    EXPECT_FALSE(ok.token.empty());
    EXPECT_EQ(ok.nick, "酷摩小岚");
    EXPECT_GT(ok.totalSpace, 0u);
    EXPECT_EQ(LoginFailureText(ok), u"");
    EXPECT_EQ(ok.attempts, 1);

    LoginAnswer wrong = ApiLogin(u"13800138000", u"nope");
    EXPECT_EQ(wrong.outcome, ApiOutcome::Refused);
    EXPECT_EQ(wrong.status, 405);
    EXPECT_NE(wrong.message[0], 0);
    // The service's own Chinese reason is what the window shows.
    EXPECT_EQ(LoginFailureText(wrong), std::u16string(wrong.message));
    EXPECT_GT(wrong.message[0], 0x2E80);

    LoginAnswer unknown = ApiLogin(u"19999999999", u"x");
    EXPECT_EQ(unknown.outcome, ApiOutcome::Refused);
}

TEST_F(ApiCalls, LoginRetriesThrough500sAndGivesUpAfterThree) {
    ASSERT_NE(service->Admin("/admin/faults?fail_next=2"), "");
    LoginAnswer a = ApiLogin(u"13800138000", u"qumo2012");
    EXPECT_EQ(a.outcome, ApiOutcome::Ok);
    EXPECT_EQ(a.attempts, 3);

    ASSERT_NE(service->Admin("/admin/faults?fail_next=3"), "");
    LoginAnswer b = ApiLogin(u"13800138000", u"qumo2012");
    EXPECT_EQ(b.outcome, ApiOutcome::NoAnswer);
    EXPECT_EQ(b.attempts, 3);
    EXPECT_EQ(LoginFailureText(b), u"登录失败，请检查网络！");
}

TEST_F(ApiCalls, ChunkedAndClosingAnswersReadTheSame) {
    ASSERT_TRUE(service->Login());
    const std::string target = std::string("/getfs.json?uid=") + GetAppSettings().m_szUid +
                               "&token=" + GetAppSettings().m_szToken + "&client=PC&pname=1.000.01";
    for (const char* fault : {"/admin/faults?chunked=1", "/admin/faults?chunked=0&close=1"}) {
        ASSERT_NE(service->Admin(fault), "");
        if (std::string(fault).find("chunked=1") != std::string::npos) {
            RawResponse raw;
            ASSERT_TRUE(RawGet(service->Port(), target, raw));
            if (!raw.chunked) {
                ADD_FAILURE() << "the service's chunked fault does not send a chunked answer";
                continue;
            }
        }
        LoginAnswer a = ApiLogin(u"13800138000", u"qumo2012");
        EXPECT_EQ(a.outcome, ApiOutcome::Ok) << fault;
        FolderListAnswer f = ApiGetFolderList(LoginKind::Account);
        EXPECT_EQ(f.outcome, ApiOutcome::Ok) << fault;
        EXPECT_TRUE(f.hasList) << fault;
        EXPECT_GT(f.folders.size(), 3u) << fault;
    }
}

TEST_F(ApiCalls, FolderListHasTheRootFirst) {
    ASSERT_TRUE(service->Login());
    for (LoginKind kind : {LoginKind::Account, LoginKind::Partner}) {
        FolderListAnswer f = ApiGetFolderList(kind);
        ASSERT_EQ(f.outcome, ApiOutcome::Ok);
        ASSERT_FALSE(f.folders.empty());
        EXPECT_EQ(f.folders[0].fid, 0);
        EXPECT_EQ(f.folders[0].parenterid, -1);
        for (std::size_t i = 1; i < f.folders.size(); ++i)
            EXPECT_GT(f.folders[i].fid, 0);
    }
    // A wrong token: status other than 200.
    char saved[64];
    std::snprintf(saved, sizeof saved, "%s", GetAppSettings().m_szToken);
    std::snprintf(GetAppSettings().m_szToken, sizeof GetAppSettings().m_szToken, "bad");
    FolderListAnswer bad = ApiGetFolderList(LoginKind::Account);
    EXPECT_EQ(bad.outcome, ApiOutcome::Failed);
    EXPECT_EQ(FolderListFailureText(bad, LoginKind::Account), u"登录失败，请检查用户名和密码！");
    std::snprintf(GetAppSettings().m_szToken, sizeof GetAppSettings().m_szToken, "%s", saved);
}

TEST_F(ApiCalls, PartnerFormsRetryAndReportNoAnswer) {
    ASSERT_TRUE(service->Login());
    ASSERT_NE(service->Admin("/admin/faults?fail_next=3"), "");
    FolderListAnswer p = ApiGetFolderList(LoginKind::Partner);
    EXPECT_EQ(p.outcome, ApiOutcome::NoAnswer);
    EXPECT_EQ(p.attempts, 3);
    EXPECT_EQ(FolderListFailureText(p, LoginKind::Partner),
              u"系统错误，未获取用户信息，请检查电脑状态！");
    ASSERT_NE(service->Admin("/admin/faults?fail_next=1"), "");
    FolderListAnswer a = ApiGetFolderList(LoginKind::Account);
    EXPECT_EQ(a.outcome, ApiOutcome::NoAnswer);
    EXPECT_EQ(a.attempts, 1);
}

TEST_F(ApiCalls, SpaceFromPartnerCookies) {
    ASSERT_TRUE(service->Login());
    SpaceAnswer s = ApiGetSpace(platform::FromNarrow(service->login.uid),
                                platform::FromNarrow(service->login.token));
    ASSERT_EQ(s.outcome, ApiOutcome::Ok);
    EXPECT_EQ(s.escUid, service->login.uid);
    EXPECT_GT(s.totalSpace, 0u);
    SpaceAnswer bad = ApiGetSpace(platform::FromNarrow(service->login.uid), u"wrong");
    EXPECT_EQ(bad.outcome, ApiOutcome::Failed);
    EXPECT_EQ(SpaceFailureText(bad), u"登录失败，请检查用户名和密码！");
}

TEST_F(ApiCalls, FileListPagesCoverTheFolder) {
    ASSERT_TRUE(service->Login());
    FolderListAnswer f = ApiGetFolderList(LoginKind::Account);
    ASSERT_EQ(f.outcome, ApiOutcome::Ok);
    // Find the demo folder with the most entries by listing each folder's first page.
    int best = -1, bestTotal = 0;
    for (const ServerFolder& folder : f.folders) {
        int failures = 0;
        FileListPage page;
        ASSERT_EQ(ApiGetFileListPage(-1, folder.fid, 30, failures, page), ApiOutcome::Ok);
        if (page.total > bestTotal) {
            bestTotal = page.total;
            best = folder.fid;
        }
    }
    ASSERT_GT(bestTotal, 0);
    int mid = -1, failures = 0, loaded = 0;
    std::vector<std::u16string> ids;
    while (loaded < bestTotal) {
        FileListPage page;
        ASSERT_EQ(ApiGetFileListPage(mid, best, 30, failures, page), ApiOutcome::Ok);
        ASSERT_TRUE(page.hasList);
        ASSERT_FALSE(page.entries.empty());
        for (const ServerFileEntry& e : page.entries) {
            ids.push_back(e.id);
            EXPECT_FALSE(e.name.empty());
            if (e.type != 100) {
                EXPECT_NE(e.mobilepic[0], 0);
                EXPECT_GT(e.timestamp, 1000000000);
            }
        }
        loaded += static_cast<int>(page.entries.size());
        mid = api_json::AtoiText(platform::ToNarrow(page.entries.back().id));
    }
    EXPECT_EQ(loaded, bestTotal);
    EXPECT_EQ(failures, 0);
}

TEST_F(ApiCalls, FileListGivesUpAfterFourFailures) {
    ASSERT_TRUE(service->Login());
    ASSERT_NE(service->Admin("/admin/faults?fail_next=10"), "");
    int failures = 0;
    FileListPage page;
    EXPECT_EQ(ApiGetFileListPage(-1, 0, 30, failures, page), ApiOutcome::GaveUp);
    EXPECT_EQ(failures, 4);
    EXPECT_EQ(page.attempts, 4);
    // The budget is for the whole listing: the next page gives up without a request.
    FileListPage next;
    EXPECT_EQ(ApiGetFileListPage(-1, 0, 30, failures, next), ApiOutcome::GaveUp);
    EXPECT_EQ(next.attempts, 0);
}

TEST_F(ApiCalls, VersionInformation) {
    VersionAnswer old = ApiGetVersionInfo(u" 1.0.0.1 ", false);
    ASSERT_EQ(old.outcome, ApiOutcome::Ok);
    EXPECT_TRUE(old.newer);
    EXPECT_NE(old.updateUrl[0], 0);
    VersionAnswer cur = ApiGetVersionInfo(u"1.0.0.5", true);
    ASSERT_EQ(cur.outcome, ApiOutcome::Ok);
    EXPECT_FALSE(cur.newer);
    ASSERT_NE(service->Admin("/admin/faults?fail_next=3"), "");
    VersionAnswer none = ApiGetVersionInfo(u"1.0.0.1", false);
    EXPECT_EQ(none.outcome, ApiOutcome::NoAnswer);
    EXPECT_EQ(VersionFailureText(none, false), u"");
    EXPECT_EQ(VersionFailureText(none, true), u"检查版本更新失败，请检查网络！");
}

TEST_F(ApiCalls, NothingListeningIsNoAnswer) {
    std::string saved = hosts::Api();
    hosts::SetApi("127.0.0.1:1");
    LoginAnswer a = ApiLogin(u"13800138000", u"qumo2012");
    hosts::SetApi(saved);
    EXPECT_EQ(a.outcome, ApiOutcome::NoAnswer);
    EXPECT_EQ(a.attempts, 3);
}

} // namespace
