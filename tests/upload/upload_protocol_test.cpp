// UploadOneFile against canned answers from a scripted loopback server: the exact
// requests of each step, the result codes and how many requests each case makes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "base/sha1.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "tests/net/script_server.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"

namespace {

std::string FirstLine(const std::string& r) {
    return r.substr(0, r.find("\r\n"));
}

class Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_proto_XXXXXX";
        dir = mkdtemp(tmpl);
        file = dir + "/a b.mp4";
        content = std::string(20000, 'q');
        std::ofstream(file, std::ios::binary) << content;
        sha1 = Sha1Hex(content.data(), content.size());
        CGlobalVar::m_strUploadListPath = platform::FromNarrow(dir + "/list.xml");
        GetAppSettings().SetUserInfo("7", "tok", "", "", 0, 1);
        hosts::SetAllServiceHosts(Host());
        CGlobalVar::m_nUploadCtrl = 0;
    }
    void TearDown() override {
        hosts::SetAllServiceHosts("127.0.0.1:8410");
        EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(srv.Port()); }
    void Answer(const std::string& body, int times = 1) {
        for (int i = 0; i < times; ++i)
            AnswerHttp(200, body);
    }
    void AnswerHttp(int status, const std::string& body) {
        srv.Add([status, body](ScriptConn& c) {
            c.ReadRequest();
            c.Send(Reply(status, body, "Connection: close\r\n"));
            c.Close();
        });
    }
    void TakePost(std::size_t bodyLen) {
        srv.Add([bodyLen](ScriptConn& c) {
            c.ReadRequest(bodyLen);
            c.Send(Reply(200, R"({"status":200,"attachment":{"byte":20000}})"));
            c.Close();
        });
    }
    UpInfo Task() {
        UpInfo t;
        t.m_strFilePath = platform::FromNarrow(file);
        t.m_strFileName = u"a b.mp4";
        CopyToFixed(t.m_tcExt, u"mp4");
        t.m_nFileLen = 20000;
        return t;
    }
    std::string Opened() const {
        return R"({"status":200,"attachment":{"status":0,"mid":11,"upid":22,"uploadip":")" +
               Host() + R"("}})";
    }

    ScriptServer srv;
    std::string dir, file, content, sha1;
};

TEST_F(Protocol, TheFourStepsByteForByte) {
    ASSERT_TRUE(AddUploadTaskList(Task()));
    Answer(Opened());
    Answer(R"({"status":200,"attachment":{"byte":1000}})");
    TakePost(19000);
    Answer(R"({"status":200,"attachment":{"id":"11"}})");
    UpInfo t = Task();
    EXPECT_EQ(UploadOneFile(t), kUploadDone);
    std::vector<std::string> r = srv.Requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(FirstLine(r[0]), "GET /allinone.json?uid=7&token=tok&sha1=" + sha1 +
                                   "&folderid=-1&filename=a+b.mp4&suffix=mp4&size=20000"
                                   "&upchannel=4&retry=0&client=pc&foldername= HTTP/1.1");
    EXPECT_EQ(FirstLine(r[1]), "GET /v2/getupload.json?uid=7&mid=11&upid=22&upchannel=4"
                               "&suffix=mp4&folderid=-1 HTTP/1.1");
    EXPECT_EQ(r[2], "POST /v2/upload.json?uid=7&mid=11&upid=22&upchannel=4&suffix=mp4"
                    "&folderid=-1 HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                    "Content-Length: 19000\r\n\r\n" +
                        content.substr(1000));
    EXPECT_EQ(FirstLine(r[3]), "GET /v2/uploadover.json?uid=7&mid=11&upid=22&upchannel=4"
                               "&suffix=mp4&pname=&folderid=-1&sha1=" +
                                   sha1 + "&size=20000 HTTP/1.1");
    EXPECT_EQ(std::u16string(t.m_tcSha1), platform::FromNarrow(sha1));
    EXPECT_EQ(std::u16string(t.m_tcVid), u"11");
    EXPECT_EQ(std::u16string(t.m_tsUpID), u"22");
    EXPECT_EQ(t.m_nUploadPort, srv.Port());
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    EXPECT_TRUE(left.empty());
}

TEST_F(Protocol, AnnouncementOutcomes) {
    Answer(R"({"status":200,"attachment":{"status":2}})");
    UpInfo a = Task();
    EXPECT_EQ(UploadOneFile(a), kUploadInstant);
    Answer(R"({"status":200,"attachment":{"status":5}})");
    UpInfo b = Task();
    EXPECT_EQ(UploadOneFile(b), kUploadNoSpace);
    EXPECT_EQ(srv.Requests().size(), 2u); // one request each, nothing more

    // Answers a retry may change are asked again, with the attempt number in "retry": a
    // server error, an HTTP time-out and a request to slow down: -2.
    Answer(R"({"status":500,"attachment":{}})");
    AnswerHttp(408, "");
    Answer(R"({"status":429,"attachment":{}})");
    UpInfo c = Task();
    EXPECT_EQ(UploadOneFile(c), kUploadAnnounceFailed);
    std::vector<std::string> r = srv.Requests();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_NE(FirstLine(r[4]).find("&retry=2&"), std::string::npos);
    EXPECT_EQ(c.m_tcVid[0], 0);
}

TEST_F(Protocol, AnswersThatWouldComeAgainFailTheFileAtOnce) {
    // A body that is not the API's JSON, a client error of the API or of HTTP, an attachment
    // status the client does not know, an opened upload without its ids: one request each.
    const std::pair<int, std::string> refusals[] = {
        {200, "{oops"},
        {200, "<html>portal</html>"},
        {200, R"({"status":400,"message":"文件名错误！","attachment":{}})"},
        {404, R"({"status":200,"attachment":{"status":0,"mid":1,"upid":2}})"},
        {200, R"({"status":200,"attachment":{"status":7}})"},
        {200, R"({"status":200,"attachment":{}})"},
        {200, R"({"status":200,"attachment":{"status":0,"upid":1}})"},
    };
    std::size_t sent = 0;
    for (const auto& [http, body] : refusals) {
        SCOPED_TRACE(body);
        AnswerHttp(http, body);
        UpInfo t = Task();
        EXPECT_EQ(UploadOneFile(t), kUploadRefused);
        EXPECT_EQ(srv.Requests().size(), ++sent);
        EXPECT_EQ(t.m_tcVid[0], 0);
    }

    // The offset request: a client error, and an answer without the offset.
    for (const std::string& body : {std::string(R"({"status":403,"attachment":{}})"),
                                    std::string(R"({"status":200,"attachment":{"byte":"x"}})")}) {
        SCOPED_TRACE(body);
        Answer(Opened());
        Answer(body);
        UpInfo t = Task();
        EXPECT_EQ(UploadOneFile(t), kUploadRefused);
        sent += 2;
        EXPECT_EQ(srv.Requests().size(), sent);
    }

    // The confirmation: a client error other than the ones that announce the file anew.
    ASSERT_TRUE(AddUploadTaskList(Task()));
    Answer(Opened());
    Answer(R"({"status":200,"attachment":{"byte":0}})");
    TakePost(20000);
    AnswerHttp(403, "");
    UpInfo t = Task();
    EXPECT_EQ(UploadOneFile(t), kUploadRefused);
    EXPECT_EQ(srv.Requests().size(), sent + 4);
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    EXPECT_EQ(left.size(), 1u); // kept for the user's retry
}

TEST_F(Protocol, UploadServerWithoutPortKeepsThePortAndOffsetFailuresCount) {
    Answer(R"({"status":200,"attachment":{"status":0,"mid":1,"upid":2,"uploadip":"127.0.0.1"}})");
    AnswerHttp(502, "");
    Answer(R"({"status":429,"attachment":{}})");
    Answer(R"({"status":500,"attachment":{}})");
    UpInfo t = Task();
    t.m_nUploadPort = srv.Port(); // stands for the default port
    EXPECT_EQ(UploadOneFile(t), kUploadOffsetFailed);
    EXPECT_EQ(t.m_nUploadPort, srv.Port());
    EXPECT_EQ(std::u16string(t.m_tcUploadIp), u"127.0.0.1");
    EXPECT_EQ(srv.Requests().size(), 4u); // one announcement, three offset requests

    // An announced task starts at the offset request; a "byte" past the file means the file
    // shrank since: nothing is sent and the upload is dropped, to be announced again.
    Answer(R"({"status":200,"attachment":{"byte":20001}})");
    EXPECT_EQ(UploadOneFile(t), kUploadTransferFailed);
    EXPECT_EQ(srv.Requests().size(), 5u);
    EXPECT_EQ(FirstLine(srv.Requests()[4]).find("GET /v2/getupload.json"), 0u);
    EXPECT_EQ(t.m_tcVid[0], 0);
    EXPECT_EQ(t.m_tcUploadIp[0], 0);
}

TEST_F(Protocol, ARefusedConfirmationIsATransferFailure) {
    ASSERT_TRUE(AddUploadTaskList(Task()));
    Answer(Opened());
    Answer(R"({"status":200,"attachment":{"byte":0}})");
    TakePost(20000);
    Answer(R"({"status":409,"message":"文件校验失败"})");
    UpInfo t = Task();
    EXPECT_EQ(UploadOneFile(t), kUploadTransferFailed);
    EXPECT_EQ(srv.Requests().size(), 4u); // not repeated: the next attempt starts over
    // The service threw the bytes away as not the announced file: the next attempt
    // announces the file anew, so the list keeps the task as a fresh one.
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].m_tcVid[0], 0);
    EXPECT_EQ(t.m_tcVid[0], 0);
}

} // namespace
