// The simple GET end to end against the scripted server: exact request bytes, statuses,
// bodies, and the URL splitters' bounds.
#include <gtest/gtest.h>

#include <cstring>

#include "net/http_get.h"
#include "net/http_get_with.h"
#include "script_server.h"

namespace {

const std::string kAgent = "Mozilla/5.0 (compatible; MSIE 7.0; QumoHttp 1.3)";

TEST(HttpModuleGet, SendsExactRequestBytesAndReturnsBody) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, "{\"status\":200}"));
    });
    std::string body = "unchanged";
    ASSERT_TRUE(HttpModuleGet(srv.Url("/getspace.json?uid=7&token=a%20b").c_str(), body));
    EXPECT_EQ(body, "{\"status\":200}");
    auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0], "GET /getspace.json?uid=7&token=a%20b HTTP/1.1\r\n"
                       "Host: 127.0.0.1\r\n"
                       "User-Agent: " +
                           kAgent +
                           "\r\n"
                           "Connection: Keep-Alive\r\n"
                           "\r\n");
}

TEST(HttpModuleGet, UrlWithoutPathRequestsRoot) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, ""));
    });
    std::string body = "x";
    ASSERT_TRUE(HttpModuleGet(("http://127.0.0.1:" + std::to_string(srv.Port())).c_str(), body));
    EXPECT_EQ(body, ""); // an empty 200 body is success with an empty text
    ASSERT_EQ(srv.Requests().size(), 1u);
    EXPECT_EQ(srv.Requests()[0].substr(0, 16), "GET / HTTP/1.1\r\n");
}

TEST(HttpModuleGet, NonSuccessStatusLeavesBodyUnchanged) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(404, "not here"));
    });
    std::string body = "before";
    EXPECT_FALSE(HttpModuleGet(srv.Url("/missing").c_str(), body));
    EXPECT_EQ(body, "before");
}

TEST(HttpModuleGet, BodyEndsAtFirstZeroByte) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, std::string("ab\0cd", 5)));
    });
    std::string body;
    ASSERT_TRUE(HttpModuleGet(srv.Url("/z").c_str(), body));
    EXPECT_EQ(body, "ab");
}

TEST(HttpModuleGet, MalformedUrlFailsWithoutTraffic) {
    ScriptServer srv;
    std::string body = "keep";
    EXPECT_FALSE(
        HttpModuleGet(("ftp://127.0.0.1:" + std::to_string(srv.Port()) + "/").c_str(), body));
    EXPECT_FALSE(HttpModuleGet("", body));
    EXPECT_FALSE(HttpModuleGet(nullptr, body));
    EXPECT_EQ(body, "keep");
    EXPECT_EQ(srv.Accepted(), 0);
}

TEST(HttpModuleGet, RefusedConnectionFails) {
    int port;
    {
        ScriptServer srv;
        port = srv.Port();
    } // closed: nothing listens there now
    std::string body = "keep";
    EXPECT_FALSE(HttpModuleGet(("http://127.0.0.1:" + std::to_string(port) + "/").c_str(), body));
    EXPECT_EQ(body, "keep");
}

TEST(HttpModuleGet, TruncatedBodyIsNotSuccess) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
        c.Close();
    });
    std::string body = "keep";
    EXPECT_FALSE(HttpModuleGet(srv.Url("/t").c_str(), body));
    EXPECT_EQ(body, "keep");
}

TEST(SplitHttpUrl, SplitsHostPortAndPath) {
    char host[256] = {}, path[1024] = {};
    int port = 80;
    SplitHttpUrl("http://api.example.test:8410/a/b.json?x=1", port, path, sizeof path, host,
                 sizeof host);
    EXPECT_STREQ(host, "api.example.test");
    EXPECT_EQ(port, 8410);
    EXPECT_STREQ(path, "/a/b.json?x=1");

    SplitHttpUrl("http://h.test", port, path, sizeof path, host, sizeof host);
    EXPECT_STREQ(host, "h.test");
    EXPECT_EQ(port, 80);
    EXPECT_STREQ(path, "/");
}

TEST(SplitHttpUrl, LeavesOutputsAloneWithoutScheme) {
    char host[16] = "h", path[16] = "p";
    int port = 5;
    SplitHttpUrl("www.x.test/a", port, path, sizeof path, host, sizeof host);
    EXPECT_STREQ(host, "h");
    EXPECT_STREQ(path, "p");
    EXPECT_EQ(port, 5);
}

TEST(SplitHttpUrl, NeverWritesPastItsBuffers) {
    char host[8 + 4], path[8 + 4];
    std::memset(host, '#', sizeof host);
    std::memset(path, '#', sizeof path);
    int port = 0;
    SplitHttpUrl("http://averyveryverylonghostname:99999999999/a/very/long/path", port, path, 8,
                 host, 8);
    EXPECT_STREQ(host, "averyve");
    EXPECT_STREQ(path, "/a/very");
    for (int i = 8; i < 12; ++i) {
        EXPECT_EQ(host[i], '#');
        EXPECT_EQ(path[i], '#');
    }
}

TEST(SplitHostPort, SplitsOrCopiesWhole) {
    char dest[32] = {};
    int port = 7;
    SplitHostPort(dest, sizeof dest, "up.example.test:8080", port);
    EXPECT_STREQ(dest, "up.example.test");
    EXPECT_EQ(port, 8080);

    char whole[32] = {};
    port = 7;
    SplitHostPort(whole, sizeof whole, "nohost", port);
    EXPECT_STREQ(whole, "nohost");
    EXPECT_EQ(port, 7); // without ":" the port stays

    char small[5];
    std::memset(small, 0, sizeof small);
    SplitHostPort(small, 4, "abcdefgh:1", port);
    EXPECT_EQ(std::string(small, 3), "abc");
    EXPECT_EQ(small[3], '\0');
    EXPECT_EQ(small[4], '\0');
}

} // namespace
