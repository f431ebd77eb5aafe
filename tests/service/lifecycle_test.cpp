// Start, stop, restart and the API faults of a real service: HTTP 500s, chunked answers,
// closed connections; malformed requests to the upload server.
#include "tests/service/service_client.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceLifecycle, StopsCleanlyAndKeepsItsDataAcrossRestarts) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    std::string data = RandomBytes(2000, 1);
    ASSERT_GT(UploadWhole(svc, me, 0, "keep.png", data), 0);
    Json::Value before;
    ASSERT_TRUE(
        ApiGet(svc, "/getfilesforpc.json?" + Auth(me) + "&mid=-1&folderid=0&num=100", before));
    EXPECT_EQ(svc.Stop(), 0);
    // --demo again does not seed twice; the token and the file are still there.
    ASSERT_TRUE(svc.Restart({"--demo"})) << svc.Error();
    Json::Value after;
    ASSERT_TRUE(
        ApiGet(svc, "/getfilesforpc.json?" + Auth(me) + "&mid=-1&folderid=0&num=100", after));
    // Entries are the same; only the addresses carry the new port.
    ASSERT_EQ(after["attachment"]["filelist"].size(), before["attachment"]["filelist"].size());
    for (Json::ArrayIndex i = 0; i < after["attachment"]["filelist"].size(); ++i) {
        for (const char* key : {"id", "name", "size", "suffix", "timestamp", "type", "mobilepic"})
            EXPECT_EQ(after["attachment"]["filelist"][i][key],
                      before["attachment"]["filelist"][i][key]);
    }
    Json::Value fs;
    ASSERT_TRUE(ApiGet(svc, "/getfs.json?" + Auth(me) + "&client=PC&pname=1.000.01", fs));
    EXPECT_EQ(fs["attachment"]["folderlist"].size(), 7u);
}

TEST(ServiceLifecycle, BadCommandLinesAreRefused) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--port", "70000"}, {"--bogus"}, {"--fail-api", "x"}}) {
        ServiceProcess svc;
        EXPECT_FALSE(svc.Start(args)) << args[0];
    }
}

TEST(ServiceFaults, FailedCallsChunkedAnswersAndClosedConnections) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--fail-api", "2"})) << svc.Error();
    std::string login = "/mobilelogin.json?mobile=13800138000&pwd=" + Md5Of("qumo2012");
    RawResponse r;
    ASSERT_TRUE(RawGet(svc.ApiPort(), login, r));
    EXPECT_EQ(r.status, 500);
    ASSERT_TRUE(RawGet(svc.ApiPort(), login, r));
    EXPECT_EQ(r.status, 500);
    ASSERT_TRUE(RawGet(svc.ApiPort(), login, r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(svc.Counter("failed_500"), 2);
    // Pages are not API calls and never fail.
    ASSERT_TRUE(svc.SetFault("fail_next", 1));
    ASSERT_TRUE(RawGet(svc.ApiPort(), "/about/aboutus", r));
    EXPECT_EQ(r.status, 200);
    ASSERT_TRUE(RawGet(svc.ApiPort(), login, r));
    EXPECT_EQ(r.status, 500);

    ASSERT_TRUE(svc.SetFault("chunked", 1));
    ASSERT_TRUE(RawGet(svc.ApiPort(), login, r));
    EXPECT_TRUE(r.chunked);
    Json::Value v;
    ASSERT_TRUE(ParseJson(r.body, v));
    EXPECT_EQ(v["status"].asInt(), 200);
    ASSERT_TRUE(svc.SetFault("chunked", 0));

    // At run time the fault announces the close in the answer's header.
    std::string keep = "GET " + login + " HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_TRUE(svc.SetFault("close", 1));
    ASSERT_TRUE(RawExchange(svc.ApiPort(), keep, r));
    EXPECT_EQ(r.Header("Connection"), "close");
    ASSERT_TRUE(svc.SetFault("close", 0));
    ASSERT_TRUE(RawExchange(svc.ApiPort(), keep, r));
    EXPECT_NE(r.Header("Connection"), "close");

    EXPECT_FALSE(svc.SetFault("fail_next", -1));
    EXPECT_FALSE(svc.SetFault("nonsense", 1));
}

TEST(ServiceFaults, CloseAfterEveryAnswerFromTheStart) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--close-after-answer"})) << svc.Error();
    RawResponse r;
    ASSERT_TRUE(RawExchange(
        svc.ApiPort(), "GET /packagemanager/versionupdateinfo.json?version=1 HTTP/1.1\r\n\r\n", r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Connection"), "close");
    EXPECT_TRUE(r.closed);
}

TEST(ServiceFaults, DropAlwaysCutsEveryUpload) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--drop-upload-after", "1000", "--drop-always"}))
        << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    std::string data = RandomBytes(2500, 3);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "steps.png", Sha1Of(data), data.size(), a));
    std::string target = "/v2/upload.json?" + UpIds(me, a);
    // Every connection takes 1000 more bytes; three rounds finish the file.
    for (int64_t expect : {1000, 2000}) {
        int64_t start = GetUploadByte(svc, me, a);
        RawResponse r;
        RawPost(svc.UploadPort(), target, data.substr(static_cast<size_t>(start)), r);
        EXPECT_EQ(GetUploadByte(svc, me, a), expect);
    }
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), target, data.substr(2000), r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(svc.Counter("dropped_connections"), 2);
}

TEST(ServiceFaults, MalformedRequestsToTheUploadServer) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start()) << svc.Error();
    RawResponse r;
    ASSERT_TRUE(RawExchange(svc.UploadPort(), "garbage\r\n\r\n", r));
    EXPECT_EQ(r.status, 400);
    ASSERT_TRUE(
        RawExchange(svc.UploadPort(), "GET /v2/getupload.json HTTP/1.1\r\nNoColon\r\n\r\n", r));
    EXPECT_EQ(r.status, 400);
    ASSERT_TRUE(RawExchange(svc.UploadPort(),
                            "POST /v2/upload.json HTTP/1.1\r\nContent-Length: 1\r\n"
                            "Content-Length: 2\r\n\r\nab",
                            r));
    EXPECT_EQ(r.status, 400);
    ASSERT_TRUE(RawGet(svc.UploadPort(), "/elsewhere", r));
    EXPECT_EQ(r.status, 404);
    // A head that never ends is cut off rather than buffered without bound.
    std::string huge = "GET /v2/getupload.json?" + std::string(40000, 'a') + " HTTP/1.1\r\n\r\n";
    EXPECT_FALSE(RawExchange(svc.UploadPort(), huge, r, 5000) && r.status == 200);
    // The server still answers afterwards.
    Json::Value v;
    ASSERT_TRUE(UpGet(svc, "/v2/getupload.json?uid=1&mid=1&upid=1", v));
    EXPECT_EQ(v["status"].asInt(), 404);
}

} // namespace
