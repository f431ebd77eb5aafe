// Reading responses: split and merged receives, chunked bodies, interim and old-style
// responses, close-after rules, dropped connections, silence and hostile input.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "net/http_client.h"
#include "script_server.h"

namespace {

HttpTimings Fast() {
    HttpTimings t;
    t.readTimeoutMs = 300;
    t.connectTimeoutMs = 2000;
    t.ticketPollMs = 5;
    return t;
}

struct Fixture {
    ScriptServer srv;
    HttpClient client{Fast()};
    int target = client.OpenTarget("127.0.0.1", srv.Port(), false);
    std::unique_ptr<HttpResponse> Get(const char* path) {
        return client.SendRequest(target, "GET", path);
    }
};

std::string Body(const std::unique_ptr<HttpResponse>& r) {
    return r && r->response ? std::string(r->response->Body()) : std::string("<none>");
}

TEST(HttpResponse, PipelinedResponsesInOneReceive) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        // Both answers at once: the first ends exactly at its length, the rest waits.
        c.Send(Reply(200, "first") + Reply(200, "second!"));
        c.ReadRequest();
        c.WaitClosed(2000);
    });
    auto a = f.Get("/1");
    auto b = f.Get("/2");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Body(a), "first");
    EXPECT_EQ(Body(b), "second!");
    EXPECT_EQ(b->status, 200);
    EXPECT_EQ(f.srv.Accepted(), 1); // one kept-alive connection
}

TEST(HttpResponse, ChunkedBodyWithSplitSizeLines) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.SendSplit({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1", "a\r\n0123456789",
                     "abcdefghijklmnop\r", "\n0", "\r\n\r\n"});
        c.ReadRequest();
        c.Send(Reply(200, "next"));
        c.WaitClosed(2000);
    });
    auto r = f.Get("/c");
    ASSERT_TRUE(r);
    EXPECT_EQ(Body(r), "0123456789abcdefghijklmnop");
    EXPECT_EQ(r->response->GetHeaderValue("Content-Length:").value_or("-"), "26");
    EXPECT_FALSE(r->response->GetHeaderValue("Transfer-Encoding:"));
    EXPECT_EQ(Body(f.Get("/n")), "next");
    EXPECT_EQ(f.srv.Accepted(), 1);
}

TEST(HttpResponse, LastChunkLineBreakArrivingWithNextResponse) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n");
        c.ReadRequest();
        c.Send("\r\n" + Reply(200, "second"));
        c.WaitClosed(2000);
    });
    auto a = f.Get("/a");
    ASSERT_TRUE(a);
    EXPECT_EQ(Body(a), "abc");
    auto b = f.Get("/b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->status, 200);
    EXPECT_EQ(b->response->header.substr(0, 8), "HTTP/1.1");
    EXPECT_EQ(Body(b), "second");
}

TEST(HttpResponse, ChunkedThenNextResponseInOneReceive) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n" +
               Reply(200, "again"));
        c.ReadRequest();
        c.WaitClosed(2000);
    });
    EXPECT_EQ(Body(f.Get("/a")), "hi");
    EXPECT_EQ(Body(f.Get("/b")), "again");
}

TEST(HttpResponse, EmptyChunkedBody) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n");
        c.WaitClosed(2000);
    });
    auto r = f.Get("/e");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(Body(r), "");
    EXPECT_EQ(r->response->GetHeaderValue("Content-Length:").value_or("-"), "0");
}

TEST(HttpResponse, ContinueThenRealResponseInOneReceive) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 100 Continue\r\n\r\n" + Reply(201, "made"));
        c.WaitClosed(2000);
    });
    auto r = f.Get("/p");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 201);
    EXPECT_EQ(Body(r), "made");
}

TEST(HttpResponse, HeaderEndedByBareLineFeeds) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\nContent-Length: 3\n\nxyz");
        c.WaitClosed(2000);
    });
    auto r = f.Get("/l");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->response->header, "HTTP/1.1 200 OK\nContent-Length: 3\n\n");
    EXPECT_EQ(Body(r), "xyz");
}

TEST(HttpResponse, OldVersionAndCloseEndTheConnection) {
    Fixture f;
    for (const char* extra : {"", "Connection: close\r\n"}) {
        bool old = *extra == '\0';
        f.srv.Add([old, extra](ScriptConn& c) {
            c.ReadRequest();
            std::string r = Reply(200, "one", extra);
            if (old)
                r.replace(0, 8, "HTTP/1.0");
            c.Send(r);
            EXPECT_TRUE(c.WaitClosed(2000)); // the client closes it
        });
    }
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\nk");
        c.ReadRequest();
        c.Send(Reply(200, "same"));
        c.WaitClosed(2000);
    });
    EXPECT_EQ(Body(f.Get("/1")), "one");
    EXPECT_EQ(Body(f.Get("/2")), "one");
    EXPECT_EQ(Body(f.Get("/3")), "k");
    EXPECT_EQ(Body(f.Get("/4")), "same"); // HTTP/1.0 with Keep-Alive stays open
    EXPECT_EQ(f.srv.Accepted(), 3);
}

TEST(HttpResponse, KeptAliveConnectionClosedByServerIsResentOnce) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, "one"));
        c.ReadRequest(); // takes the second request and drops the connection unanswered
    });
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, "two"));
        c.WaitClosed(2000);
    });
    EXPECT_EQ(Body(f.Get("/1")), "one");
    auto r = f.Get("/2");
    ASSERT_TRUE(r);
    EXPECT_EQ(Body(r), "two");
    auto reqs = f.srv.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[1], reqs[2]); // the same bytes sent again
}

TEST(HttpResponse, FreshConnectionClosedBeforeAnyByteIsNotResent) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) { c.ReadRequest(); });
    auto r = f.Get("/x");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_TRUE(r->response->header.empty());
    EXPECT_EQ(f.srv.Accepted(), 1);
    EXPECT_EQ(f.client.OpenConnectionCount(), 0);
}

TEST(HttpResponse, SilenceGivesEmptyResponseAndResets) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.WaitClosed(3000);
    });
    auto t0 = std::chrono::steady_clock::now();
    auto r = f.Get("/s");
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 0);
    EXPECT_GE(ms, 250);
    EXPECT_EQ(f.client.OpenConnectionCount(), 0);
}

TEST(HttpResponse, SilenceAfterPartEndsResponse) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\n\r\nno length"); // ends only by close or silence
        c.ReadRequest();
    });
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort");
        c.WaitClosed(3000);
    });
    auto r = f.Get("/a");
    ASSERT_TRUE(r);
    EXPECT_EQ(Body(r), "no length");
    EXPECT_FALSE(r->response->incomplete);
    auto s = f.Get("/b");
    ASSERT_TRUE(s);
    EXPECT_EQ(Body(s), "short");
    EXPECT_TRUE(s->response->incomplete); // passed on, but never as a complete body
    EXPECT_EQ(f.srv.Accepted(), 2);       // closed after both
}

TEST(HttpResponse, NegativeLengthGivesHeaderAloneAndCloses) {
    Fixture f;
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nbody");
        EXPECT_TRUE(c.WaitClosed(2000));
    });
    auto r = f.Get("/n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_EQ(Body(r), "");
}

TEST(HttpResponse, HostileInputFailsCleanly) {
    Fixture f;
    // A header that never ends.
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        std::string junk = "HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'a');
        c.Send(junk);
        EXPECT_TRUE(c.WaitClosed(2000)); // malformed: the client resets
    });
    // A length past any real body.
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc");
        EXPECT_TRUE(c.WaitClosed(2000));
    });
    // A chunk size that does not fit its line.
    f.srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
               "fffffffffffffffffff\r\nabc");
        c.Close();
    });
    auto a = f.Get("/a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 0);
    EXPECT_TRUE(a->response->header.empty());
    auto b = f.Get("/b");
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->response->incomplete);
    EXPECT_EQ(Body(b), "");
    auto c = f.Get("/c");
    ASSERT_TRUE(c);
    // Not chunked any more: taken up to the close, undecoded.
    EXPECT_EQ(Body(c), "fffffffffffffffffff\r\nabc");
    EXPECT_TRUE(c->response->GetHeaderValue("Transfer-Encoding:"));
}

TEST(HttpResponse, LargeBodyGoesThroughTemporaryFileWithoutName) {
    // The body file's name goes at once: nothing is left even when the process is killed.
    const std::string folder = testing::TempDir() + "qumo_body_" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const char* old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", folder.c_str(), 1);
    ScriptServer srv;
    HttpTimings t = Fast();
    t.bodyMemoryLimit = 1024;
    HttpClient client(t);
    int target = client.OpenTarget("127.0.0.1", srv.Port(), false);
    std::string big;
    for (int i = 0; i < 300000; ++i)
        big += static_cast<char>('a' + i % 26);
    srv.Add([big](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, big));
        c.WaitClosed(2000);
    });
    auto r = client.SendRequest(target, "GET", "/big");
    ASSERT_TRUE(r);
    EXPECT_TRUE(Body(r) == big);
    ASSERT_NE(r->response->BodyFile(), nullptr);
    std::string path = r->response->BodyFile()->Path();
    EXPECT_EQ(path.rfind(folder + "/Qum", 0), 0u) << path;
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    r.reset();
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    // What an earlier run left there goes at start-up; foreign names stay.
    for (const char* name : {"QumAb12Yz", "QumAb12Yz.txt", "Qumo-notes"})
        std::ofstream(folder + "/" + name) << "x";
    EXPECT_EQ(RemoveLeftBodyFiles(), 1);
    EXPECT_FALSE(std::filesystem::exists(folder + "/QumAb12Yz"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/QumAb12Yz.txt"));
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    std::filesystem::remove_all(folder);
}

TEST(HttpResponse, BodyThatCannotBeStoredIsNoAnswer) {
    ScriptServer srv;
    HttpTimings t = Fast();
    t.bodyMemoryLimit = 10;
    HttpClient client(t);
    int target = client.OpenTarget("127.0.0.1", srv.Port(), false);
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, std::string(100, 'b')));
        c.WaitClosed(2000);
    });
    const char* old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", "/nonexistent/qumo-no-such-folder", 1);
    auto r = client.SendRequest(target, "GET", "/b");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    ASSERT_TRUE(r);
    // Never a 200 with a silently emptied body.
    EXPECT_EQ(r->status, 0);
    EXPECT_TRUE(r->response->incomplete);
    EXPECT_EQ(client.OpenConnectionCount(), 0);
}

TEST(HttpResponse, LargeChunkedBodyDecodesAcrossFile) {
    ScriptServer srv;
    HttpTimings t = Fast();
    t.bodyMemoryLimit = 100;
    HttpClient client(t);
    int target = client.OpenTarget("127.0.0.1", srv.Port(), false);
    std::string want, wire = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 50; ++i) {
        std::string part(100 + i, static_cast<char>('A' + i % 26));
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", part.size());
        wire += size + part + "\r\n";
        want += part;
    }
    wire += "0\r\n\r\n";
    srv.Add([wire](ScriptConn& c) {
        c.ReadRequest();
        c.Send(wire);
        c.WaitClosed(2000);
    });
    auto r = client.SendRequest(target, "GET", "/big");
    ASSERT_TRUE(r);
    EXPECT_TRUE(Body(r) == want);
    EXPECT_FALSE(r->response->incomplete);
}

} // namespace
