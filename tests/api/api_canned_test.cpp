// The API calls against canned answers from a scripted loopback server: the odd answers a
// real service never gives (wrong member types, empty bodies, zero space), the retry
// counts and what each caller is told.
#include <gtest/gtest.h>

#include "app/app_settings.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "tests/net/script_server.h"

namespace {

std::string FirstLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

class ApiCanned : public ::testing::Test {
protected:
    void SetUp() override {
        hosts::SetAllServiceHosts("127.0.0.1:" + std::to_string(srv.Port()));
        GetAppSettings().SetUserInfo("7", "tok", "", "", 0, 1);
    }
    void TearDown() override { hosts::SetAllServiceHosts("127.0.0.1:8410"); }
    // The next `times` connections each get one answer.
    void Answer(const std::string& body, int times = 1, int status = 200) {
        for (int i = 0; i < times; ++i)
            srv.Add([body, status](ScriptConn& c) {
                c.ReadRequest();
                c.Send(Reply(status, body, "Connection: close\r\n"));
                c.Close();
            });
    }
    ScriptServer srv;
};

TEST_F(ApiCanned, LoginReadsTheAccountAndSendsTheDigest) {
    Answer(R"({"status":200,"debug":null,"message":"","attachment":{"token":"t0k","uid":"42",)"
           R"("nick":"小岚","headface":"http://p/a.png","totalspace":2048,"usedspace":12}})");
    LoginAnswer a = ApiLogin(u"138", u"abc");
    ASSERT_EQ(a.outcome, ApiOutcome::Ok);
    EXPECT_EQ(a.uid, "42");
    EXPECT_EQ(a.token, "t0k");
    EXPECT_EQ(a.nick, "小岚");
    EXPECT_EQ(a.totalSpace, 2048u);
    EXPECT_EQ(a.usedSpace, 12u);
    ASSERT_EQ(srv.Requests().size(), 1u);
    EXPECT_EQ(FirstLine(srv.Requests()[0]),
              "GET /mobilelogin.json?mobile=138&pwd=900150983cd24fb0d6963f7d28e17f72 HTTP/1.1");
}

TEST_F(ApiCanned, LoginFailureCases) {
    // A token that is not text while the uid is: the "illegal user" case.
    Answer(R"({"status":200,"attachment":{"token":5,"uid":"42"}})");
    LoginAnswer a = ApiLogin(u"138", u"abc");
    EXPECT_EQ(a.outcome, ApiOutcome::BadAnswer);
    EXPECT_EQ(LoginFailureText(a), u"系统错误，用户非法，请检查电脑状态！");
    // An empty 200 body is not JSON and ends the login after one attempt.
    Answer("");
    LoginAnswer b = ApiLogin(u"138", u"abc");
    EXPECT_EQ(b.outcome, ApiOutcome::NotJson);
    EXPECT_EQ(b.attempts, 1);
    EXPECT_EQ(LoginFailureText(b), u"登录失败，请检查网络！");
    // Any status but 200 and 405.
    Answer(R"({"status":500,"message":"x"})");
    LoginAnswer c = ApiLogin(u"138", u"abc");
    EXPECT_EQ(c.outcome, ApiOutcome::Failed);
    EXPECT_EQ(LoginFailureText(c), u"登录失败，请检查用户名和密码！");
    // A uid longer than the store keeps is refused rather than cut.
    Answer(R"({"status":200,"attachment":{"token":"t","uid":"12345678901234567890123456789012"}})");
    EXPECT_EQ(ApiLogin(u"138", u"abc").outcome, ApiOutcome::BadAnswer);
    // Two HTTP 500s, then an answer: three attempts.
    Answer("", 2, 500);
    Answer(R"({"status":405,"message":"账号不存在"})");
    LoginAnswer d = ApiLogin(u"138", u"abc");
    EXPECT_EQ(d.attempts, 3);
    EXPECT_EQ(LoginFailureText(d), u"账号不存在");
}

TEST_F(ApiCanned, SpaceCases) {
    Answer(R"({"status":200,"attachment":{"totalspace":0,"usedspace":0}})");
    SpaceAnswer zero = ApiGetSpace(u"7", u"t");
    EXPECT_EQ(zero.outcome, ApiOutcome::ZeroSpace);
    EXPECT_EQ(SpaceFailureText(zero), u"登录失败，请检查用户名和密码，空间非法！");
    // Not JSON counts as a failed attempt: three of them, then the network message.
    Answer("<html>", 3);
    SpaceAnswer none = ApiGetSpace(u"7", u"t");
    EXPECT_EQ(none.outcome, ApiOutcome::NoAnswer);
    EXPECT_EQ(none.attempts, 3);
    EXPECT_EQ(SpaceFailureText(none), u"获取用户信息失败，请重试！");
    Answer(R"({"status":200,"attachment":{"totalspace":-5,"usedspace":1}})");
    EXPECT_EQ(ApiGetSpace(u"7", u"t").outcome, ApiOutcome::BadAnswer);
}

TEST_F(ApiCanned, FolderListShapes) {
    Answer(R"({"status":200,"attachment":{"folderlist":[{"name":"根","fid":"0","parenterid":"-1"},)"
           R"({"name":"x","fid":"abc","parenterid":"0"},{"fid":"5"}]}})");
    FolderListAnswer f = ApiGetFolderList(LoginKind::Account);
    ASSERT_EQ(f.outcome, ApiOutcome::Ok);
    ASSERT_EQ(f.folders.size(), 3u);
    EXPECT_EQ(std::u16string(f.folders[0].name), u"根");
    EXPECT_EQ(f.folders[1].fid, 0); // letters read as 0
    EXPECT_EQ(f.folders[2].name[0], 0);
    EXPECT_EQ(f.folders[2].parenterid, 0);
    Answer(R"({"status":200,"attachment":{"folderlist":null}})");
    FolderListAnswer n = ApiGetFolderList(LoginKind::Account);
    EXPECT_TRUE(n.hasList);
    EXPECT_TRUE(n.folders.empty());
    Answer(R"({"status":200,"attachment":{"folderlist":"nope"}})");
    FolderListAnswer s = ApiGetFolderList(LoginKind::Account);
    EXPECT_EQ(s.outcome, ApiOutcome::Ok);
    EXPECT_FALSE(s.hasList); // ignored
    // After an account login an answer that is not JSON is passed over.
    Answer("not json");
    FolderListAnswer j = ApiGetFolderList(LoginKind::Account);
    EXPECT_EQ(j.outcome, ApiOutcome::NotJson);
    EXPECT_EQ(FolderListFailureText(j, LoginKind::Account), u"");
}

TEST_F(ApiCanned, FileListEntries) {
    Answer(
        R"({"status":200,"attachment":{"size":3,"filelist":[)"
        R"({"name":"子目录","type":100,"fid":"31","dirid":"9","timestamp":"1327284000.9"},)"
        R"({"name":"v","type":200,"id":"32","dirid":"9","size":5368709120,"suffix":"mp4",)"
        R"("source":"s","bigpic":"b","mobilepic":"vthumb/x.png","playurl":"p","timestamp":"1e3"},)"
        R"({"name":"p.jpg","type":1,"id":"33","size":-1,"playurl":"ignored","timestamp":7}]}})");
    int failures = 0;
    FileListPage page;
    ASSERT_EQ(ApiGetFileListPage(-1, 9, 30, failures, page), ApiOutcome::Ok);
    EXPECT_EQ(FirstLine(srv.Requests()[0]),
              "GET /getfilesforpc.json?uid=7&token=tok&mid=-1&folderid=9&num=30 HTTP/1.1");
    EXPECT_EQ(page.total, 3);
    ASSERT_EQ(page.entries.size(), 3u);
    const ServerFileEntry& d = page.entries[0];
    EXPECT_EQ(d.name, u"子目录");
    EXPECT_EQ(std::u16string(d.id), u"31");
    EXPECT_EQ(d.timestamp, 1327284000);
    const ServerFileEntry& v = page.entries[1];
    EXPECT_EQ(std::u16string(v.id), u"32");
    EXPECT_EQ(v.size, 5368709120u); // 5 GiB: past 32 bits
    EXPECT_EQ(std::u16string(v.playurl), u"p");
    EXPECT_EQ(std::u16string(v.mobilepic), u"vthumb/x.png");
    EXPECT_EQ(v.timestamp, 1000);
    const ServerFileEntry& p = page.entries[2];
    EXPECT_EQ(p.size, 0u);      // a negative size is not an unsigned number
    EXPECT_EQ(p.playurl[0], 0); // read for videos only
    EXPECT_EQ(p.timestamp, 0);  // not text
    EXPECT_EQ(failures, 0);
}

TEST_F(ApiCanned, FileListPageTakesAtMostWhatWasAsked) {
    std::string list;
    for (int i = 0; i < 100; ++i)
        list += std::string(i ? "," : "") + R"({"name":"a.jpg","type":1,"id":")" +
                std::to_string(i) + R"(","size":1})";
    Answer(R"({"status":200,"attachment":{"size":100000,"filelist":[)" + list + "]}}");
    int failures = 0;
    FileListPage page;
    ASSERT_EQ(ApiGetFileListPage(-1, 9, 30, failures, page), ApiOutcome::Ok);
    ASSERT_EQ(page.entries.size(), 30u);
    EXPECT_EQ(std::u16string(page.entries[29].id), u"29");
}

TEST_F(ApiCanned, VersionCases) {
    Answer(R"({"status":200,"attachment":{"status":1,"updateurl":"http://w/new.exe"}})");
    VersionAnswer v = ApiGetVersionInfo(u"1.0", false);
    EXPECT_TRUE(v.newer);
    EXPECT_EQ(std::u16string(v.updateUrl), u"http://w/new.exe");
    Answer(R"({"status":405,"message":"停止服务"})");
    VersionAnswer r = ApiGetVersionInfo(u"1.0", true);
    EXPECT_EQ(VersionFailureText(r, true), u"停止服务");
    EXPECT_EQ(VersionFailureText(r, false), u"");
    Answer(R"({"status":200,"attachment":{"updateurl":"u"}})");
    EXPECT_EQ(ApiGetVersionInfo(u"1.0", true).outcome, ApiOutcome::BadAnswer);
}

} // namespace
