// The client around the reader: targets, request composition, redirects, cookies across
// redirects, the connection pool with its queue order, idle reaping, Nagle off, stops.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "net/http_client.h"
#include "net/http_get_with.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "script_server.h"

namespace {

HttpTimings Fast() {
    HttpTimings t;
    t.readTimeoutMs = 500;
    t.connectTimeoutMs = 2000;
    t.ticketPollMs = 5;
    return t;
}

std::string Body(const std::unique_ptr<HttpResponse>& r) {
    return r && r->response ? std::string(r->response->Body()) : std::string("<none>");
}

std::string RequestLine(const std::string& req) {
    return req.substr(0, req.find("\r\n"));
}

TEST(HttpClientTargets, OpenAndClose) {
    HttpClient client(Fast());
    // A secure target opens (its connections speak TLS); closed again, its slot is free.
    const int secure = client.OpenTarget("127.0.0.1", 443, true);
    ASSERT_EQ(secure, 0);
    EXPECT_TRUE(client.Target(secure)->secure);
    EXPECT_TRUE(client.CloseTarget(secure));
    EXPECT_EQ(client.OpenTarget(nullptr, 80, false), -1);
    EXPECT_EQ(client.OpenTarget("127.0.0.1", 65536 + 80, false), -1); // never wraps to 80
    EXPECT_EQ(client.OpenTarget("127.0.0.1", -1, false), -1);
    int a = client.OpenTarget("127.0.0.1", 81, false);
    int b = client.OpenTarget("localhost", 82, false);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(client.Target(b)->hostName, "localhost");
    EXPECT_TRUE(client.CloseTarget(a));
    EXPECT_FALSE(client.CloseTarget(a));
    EXPECT_FALSE(client.CloseTarget(4096));
    EXPECT_FALSE(client.CloseTarget(-1));
    EXPECT_EQ(client.OpenTarget("127.0.0.1", 83, false), 0); // first empty slot again
}

TEST(HttpClientTargets, AllSlotsTaken) {
    HttpClient client(Fast());
    for (int i = 0; i < HttpClient::kMaxTargets; ++i)
        ASSERT_EQ(client.OpenTarget("127.0.0.1", 80, false), i);
    EXPECT_EQ(client.OpenTarget("127.0.0.1", 80, false), -1);
}

TEST(HttpClientRequest, BuildsExactBytes) {
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", 8410, false);
    EXPECT_EQ(client.BuildRequest(t, "GET", "noslash"), nullptr);
    EXPECT_EQ(client.BuildRequest(t, "GET", nullptr), nullptr);
    EXPECT_EQ(client.BuildRequest(t + 1, "GET", "/"), nullptr);
    auto m = client.BuildRequest(t, "GET", "/a?b=1");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->header, "GET /a?b=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         "User-Agent: Mozilla/5.0 (compatible; MSIE 7.0; QumoHttp 1.3)\r\n"
                         "Connection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(m->BodyLength(), 0u);
    client.Target(t)->minorVersion = 0;
    client.CookieJar().StoreCookie("sid=42", "/a/", "127.0.0.1");
    m = client.BuildRequest(t, "GET", "/a/b?c=/d");
    EXPECT_EQ(m->header, "GET /a/b?c=/d HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                         "User-Agent: Mozilla/5.0 (compatible; MSIE 7.0; QumoHttp 1.3)\r\n"
                         "Cookie: sid=42\r\nConnection: Keep-Alive\r\n\r\n");
    client.Target(t)->cookiesEnabled = false;
    m = client.BuildRequest(t, "GET", "/a/b");
    EXPECT_EQ(m->header.find("Cookie:"), std::string::npos);
}

TEST(HttpClientRequest, PathDirectory) {
    EXPECT_EQ(PathDirectory("/a/b/c.json?x=/y/z"), "/a/b/");
    EXPECT_EQ(PathDirectory("/a;b/c"), "/");
    EXPECT_EQ(PathDirectory("/x&y/"), "/");
    EXPECT_EQ(PathDirectory("/"), "/");
    EXPECT_EQ(PathDirectory("none"), "");
}

// A server answering every request on one connection from a list of responses.
void Serve(ScriptServer& srv, std::vector<std::string> replies) {
    srv.Add([replies](ScriptConn& c) {
        for (const auto& r : replies) {
            if (c.ReadRequest().empty())
                return;
            c.Send(r);
        }
        c.WaitClosed(2000);
    });
}

std::string Redirect(const std::string& to, const std::string& extra = "") {
    return Reply(302, "moved", "Location: " + to + "\r\n" + extra);
}

TEST(HttpClientRedirect, ChainsOfOneTwoAndThree) {
    ScriptServer srv;
    Serve(srv, {Redirect("/r1"), Reply(200, "after one"), // chain of 1
                Redirect("/s1"), Redirect("http://127.0.0.1/s2"), Reply(200, "after two"),
                Redirect("/t1"), Redirect("/t2"), Redirect("/t3"), // chain of 3
                Redirect("/u1"), Reply(200, "budget back")});
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    EXPECT_EQ(Body(client.SendRequest(t, "GET", "/r")), "after one");
    EXPECT_EQ(Body(client.SendRequest(t, "GET", "/s")), "after two");
    auto third = client.SendRequest(t, "GET", "/t");
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status, 302);
    EXPECT_EQ(third->response->GetHeaderValue("Location:").value_or(""), "/t3");
    EXPECT_EQ(client.Target(t)->redirectBudget, 2);
    EXPECT_EQ(Body(client.SendRequest(t, "GET", "/u")), "budget back");
    auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), 10u);
    EXPECT_EQ(RequestLine(reqs[4]), "GET /s2 HTTP/1.1");
    EXPECT_EQ(RequestLine(reqs[7]), "GET /t2 HTTP/1.1");
    EXPECT_EQ(srv.Accepted(), 1); // followed on the same connection
}

TEST(HttpClientRedirect, OtherHostOrSchemeIsReturned) {
    ScriptServer srv;
    Serve(srv, {Redirect("http://elsewhere.test/x"), Redirect("https://127.0.0.1/x"),
                Reply(301, "", "Location: ftp://127.0.0.1/x\r\n")});
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    EXPECT_EQ(client.SendRequest(t, "GET", "/a")->status, 302);
    EXPECT_EQ(client.SendRequest(t, "GET", "/b")->status, 302);
    EXPECT_EQ(client.SendRequest(t, "GET", "/c")->status, 301);
    EXPECT_EQ(srv.Requests().size(), 3u);
}

TEST(HttpClientRedirect, CookiesTravelAcrossRedirect) {
    ScriptServer srv;
    Serve(srv, {Redirect("/app/home", "Set-Cookie: sid=abc; path=/\r\n"
                                      "Set-Cookie: lang=zh\r\n"),
                Reply(200, "welcome")});
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    testing::internal::CaptureStdout();
    auto r = client.SendRequest(t, "GET", "/login/go?u=1");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Body(r), "welcome");
    EXPECT_EQ(out, "Extraido: sid=abc; path=/\nExtraido: lang=zh\n");
    auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    // lang was set for /login/ only, so the redirect to /app/ carries sid alone.
    EXPECT_EQ(reqs[1], "GET /app/home HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                       "User-Agent: Mozilla/5.0 (compatible; MSIE 7.0; QumoHttp 1.3)\r\n"
                       "Cookie: sid=abc\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST(HttpClientPool, QueuedRequestsAnsweredInOrder) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.ReadRequest();
        c.ReadRequest();
        // All three answers in one send, in the order the requests came.
        c.Send(Reply(200, "r0") + Reply(200, "r1") + Reply(200, "r2"));
        c.WaitClosed(3000);
    });
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    // Open the connection first so all three threads queue on it.
    std::string got[3];
    std::vector<std::thread> threads;
    std::atomic<int> started{0};
    auto run = [&](int i) {
        ++started;
        auto r = client.SendRequest(t, "GET", ("/q" + std::to_string(i)).c_str());
        got[i] = Body(r);
    };
    threads.emplace_back(run, 0);
    ASSERT_TRUE(srv.WaitRequests(1, 3000));
    threads.emplace_back(run, 1);
    ASSERT_TRUE(srv.WaitRequests(2, 3000));
    threads.emplace_back(run, 2);
    for (auto& th : threads)
        th.join();
    auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(got[i], "r" + std::to_string(RequestLine(reqs[i])[6] - '0')) << i;
    EXPECT_EQ(srv.Accepted(), 1);
}

TEST(HttpClientPool, IdleConnectionsReapedAfterTwentySeconds) {
    ScriptServer srv;
    std::atomic<bool> closed{false};
    srv.Add([&](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, "x"));
        closed = c.WaitClosed(5000);
    });
    HttpTimings tm = Fast();
    tm.maintenancePeriodMs = 60000; // passes are made by hand below
    HttpClient client(tm);
    std::atomic<std::int64_t> now{1000000000};
    client.SetClock([&] { return now.load(); });
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    ASSERT_EQ(Body(client.SendRequest(t, "GET", "/")), "x");
    EXPECT_EQ(client.OpenConnectionCount(), 1);
    now += 200000000; // exactly 20 s: not yet
    client.ReapIdleConnections();
    EXPECT_EQ(client.OpenConnectionCount(), 1);
    now += 1;
    client.ReapIdleConnections();
    EXPECT_EQ(client.OpenConnectionCount(), 0);
    srv.WaitRequests(1, 100);
    for (int i = 0; i < 100 && !closed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(closed.load());
}

TEST(HttpClientPool, DestructionDoesNotWaitForMaintenancePeriod) {
    // A period far beyond the test's time limit: destruction must end the wait at once.
    // (bench/http prints how long creation and destruction take.)
    HttpTimings tm;
    tm.maintenancePeriodMs = 24 * 3600 * 1000;
    auto client = std::make_unique<HttpClient>(tm);
    client.reset();
    SUCCEED();
}

TEST(HttpClientPool, EverySocketHasNagleOff) {
    ScriptServer srv;
    Serve(srv, {Reply(200, "a")});
    HttpClient client(Fast());
    std::vector<int> flags;
    client.SetConnector([&](std::uint32_t a, std::uint16_t p, int ms) {
        int fd = platform::SocketConnect(a, p, ms);
        int v = 0;
        socklen_t len = sizeof v;
        getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &v, &len);
        flags.push_back(v);
        return fd;
    });
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    EXPECT_EQ(Body(client.SendRequest(t, "GET", "/")), "a");
    ASSERT_EQ(flags.size(), 1u);
    EXPECT_NE(flags[0], 0);
}

TEST(HttpClientPool, RequestPairWithBodiesOnOneConnection) {
    // Header and body go out in two writes; with Nagle's algorithm on, the body of a
    // request on a reused connection would wait for a delayed acknowledgement (~40 ms):
    // bench/http prints the time of such a pair, EverySocketHasNagleOff checks the cause.
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        for (int i = 0; i < 3; ++i) {
            if (c.ReadRequest(5).empty())
                return;
            c.Send(Reply(200, "ok"));
        }
        c.WaitClosed(2000);
    });
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    auto post = [&] {
        auto m = client.BuildRequest(t, "POST", "/up");
        m->AddHeaderLine("Content-Length: 5");
        m->SetBody("hello");
        return client.DispatchHTTPRequest(t, *m);
    };
    ASSERT_TRUE(post()); // opens the connection
    auto a = post();
    auto b = post();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->Body(), "ok");
    EXPECT_EQ(b->Body(), "ok");
    EXPECT_EQ(srv.Accepted(), 1);
    EXPECT_EQ(srv.Requests()[2].substr(srv.Requests()[2].size() - 5), "hello");
}

TEST(HttpClientPool, StalledSendHoldsNoLockOfTheClient) {
    // The server reads nothing until the test has used the client from another thread:
    // the request's body stalls in its send meanwhile.
    const std::string body(32u << 20, 'x');
    std::atomic<bool> stalled{false}, release{false};
    ScriptServer srv;
    srv.Add([&](ScriptConn& c) {
        std::size_t last = 0;
        for (int i = 0, same = 0; i < 500 && same < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const std::size_t now = c.Unread();
            same = now > 0 && now == last ? same + 1 : 0;
            last = now;
        }
        stalled = true;
        for (int i = 0; i < 1000 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!release || c.ReadRequest(body.size()).empty())
            return;
        c.Send(Reply(200, "got it"));
        c.WaitClosed(3000);
    });
    HttpTimings tm = Fast();
    tm.readTimeoutMs = 20000;
    HttpClient client(tm);
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    std::unique_ptr<HttpMessage> answer;
    std::thread sender([&] {
        auto m = client.BuildRequest(t, "POST", "/big");
        m->AddHeaderLine("Content-Length: " + std::to_string(body.size()));
        m->SetBody(body);
        answer = client.DispatchHTTPRequest(t, *m);
    });
    for (int i = 0; i < 1000 && !stalled; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // What the maintenance thread and other callers do: neither waits for the send.
    client.ReapIdleConnections();
    EXPECT_EQ(client.OpenConnectionCount(), 1);
    release = true;
    sender.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Body(), "got it");
}

TEST(HttpClientPool, StopEndsGetOnSilentServer) {
    // Waits far longer than the server keeps the connection: only the stop can end the
    // call before the server gives up (bench/http prints how soon it does).
    std::atomic<bool> closedByClient{false};
    ScriptServer srv;
    srv.Add([&](ScriptConn& c) {
        c.ReadRequest();
        closedByClient = c.WaitClosed(60000);
    });
    HttpTimings tm;
    tm.readTimeoutMs = 600000;
    tm.callDeadlineMs = 0;
    auto stop = platform::EventHandle::Create();
    std::atomic<bool> result{true};
    std::thread worker([&] {
        platform::SetThreadCancelEvent(stop);
        std::string body = "keep";
        result = HttpGetWith(srv.Url("/slow").c_str(), body, tm);
    });
    ASSERT_TRUE(srv.WaitRequests(1, 3000));
    stop.Set();
    worker.join();
    EXPECT_FALSE(result.load());
    for (int i = 0; i < 500 && !closedByClient; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(closedByClient.load());
}

TEST(HttpClientPool, StopWhileWaitingForTicketLeavesQueue) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.ReadRequest();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        c.Send(Reply(200, "first"));
        c.WaitClosed(3000);
    });
    srv.Add([](ScriptConn& c) {
        // The first request goes again after the stopped one forced a reset.
        c.ReadRequest();
        c.Send(Reply(200, "first"));
        c.WaitClosed(3000);
    });
    HttpClient client(Fast());
    int t = client.OpenTarget("127.0.0.1", srv.Port(), false);
    std::string first;
    std::thread a([&] { first = Body(client.SendRequest(t, "GET", "/a")); });
    ASSERT_TRUE(srv.WaitRequests(1, 3000));
    auto stop = platform::EventHandle::Create();
    std::unique_ptr<HttpResponse> second;
    std::thread b([&] {
        platform::SetThreadCancelEvent(stop);
        second = client.SendRequest(t, "GET", "/b");
    });
    ASSERT_TRUE(srv.WaitRequests(2, 3000));
    stop.Set();
    b.join();
    a.join();
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(first, "first");
}

} // namespace
