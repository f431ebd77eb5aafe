// Hostile servers against the bounds of a call: bodies past what the call can need, and a
// server that trickles its answer. The bounds are checked on the bytes the server got rid
// of and on the files left, never on time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "net/http_client.h"
#include "net/http_get_with.h"
#include "script_server.h"

namespace fs = std::filesystem;

namespace {

// A temporary folder of the test's own, so that files left behind can be counted.
class OwnTmpDir {
public:
    OwnTmpDir() : m_dir(fs::path(testing::TempDir()) / ("qumo_lim_" + std::to_string(getpid()))) {
        fs::create_directories(m_dir);
        const char* old = std::getenv("TMPDIR");
        m_had = old != nullptr;
        m_old = old ? old : "";
        setenv("TMPDIR", m_dir.c_str(), 1);
    }
    ~OwnTmpDir() {
        if (m_had)
            setenv("TMPDIR", m_old.c_str(), 1);
        else
            unsetenv("TMPDIR");
        fs::remove_all(m_dir);
    }
    const fs::path& Dir() const { return m_dir; }

private:
    fs::path m_dir;
    bool m_had = false;
    std::string m_old;
};

// Sends `head`, then body bytes in 1 MiB blocks until 256 MiB are out or the client went
// away; `sent` gets how many body bytes the connection took.
ScriptServer::Script Flood(std::string head, std::atomic<std::size_t>& sent) {
    return [head, &sent](ScriptConn& c) {
        c.ReadRequest();
        c.Send(head);
        const std::string block(1u << 20, 'a');
        for (int i = 0; i < 256; ++i) {
            const std::size_t n = c.Send(block);
            sent += n;
            if (n < block.size())
                break;
        }
    };
}

TEST(HttpLimits, BodiesPastTheCallsBoundAreNotRead) {
    OwnTmpDir tmp;
    HttpTimings t;
    t.readTimeoutMs = 2000;
    t.bodyLimit = 1u << 20;
    // What the loopback's socket buffers can hold besides what the client read.
    const std::size_t slack = 24u << 20;
    const std::string shapes[] = {
        // An endless chunk, a body that ends only with the connection, and a huge length.
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\n",
        "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 3221225472\r\n\r\n",
    };
    for (const std::string& head : shapes) {
        std::atomic<std::size_t> sent{0};
        {
            ScriptServer srv; // its end waits for the script: `sent` is final after it
            srv.Add(Flood(head, sent));
            std::string body = "unchanged";
            EXPECT_FALSE(HttpGetWith(srv.Url("/answer.json").c_str(), body, t)) << head;
            EXPECT_EQ(body, "unchanged");
        }
        EXPECT_LT(sent.load(), t.bodyLimit + slack) << head;
        EXPECT_TRUE(fs::is_empty(tmp.Dir())) << head;
    }

    // A picture is bounded likewise and nothing lands beside its file.
    std::atomic<std::size_t> sent{0};
    const fs::path picture = tmp.Dir() / "pictures" / "selfimage.jpg";
    fs::create_directories(picture.parent_path());
    {
        ScriptServer srv;
        srv.Add(Flood("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n", sent));
        HttpTimings d = DownloadTimings();
        d.readTimeoutMs = 2000;
        d.bodyLimit = 1u << 20;
        EXPECT_FALSE(DownloadOnce(srv.Url("/avatar.jpg").c_str(), picture.u16string(), d));
    }
    EXPECT_LT(sent.load(), (1u << 20) + slack);
    EXPECT_TRUE(fs::is_empty(picture.parent_path()));
}

TEST(HttpLimits, TricklingServerFailsTheCallAtItsDeadline) {
    // One byte every 20 ms: each wait is short, the whole answer would take 8 s.
    auto trickle = [](std::atomic<std::size_t>& sent) {
        return [&sent](ScriptConn& c) {
            c.ReadRequest();
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\n");
            for (int i = 0; i < 400 && c.Send("x") == 1; ++i) {
                ++sent;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        };
    };
    OwnTmpDir tmp;
    HttpTimings t;
    t.readTimeoutMs = 5000;
    t.callDeadlineMs = 300;
    std::atomic<std::size_t> sent{0};
    {
        ScriptServer srv;
        srv.Add(trickle(sent));
        std::string body;
        EXPECT_FALSE(HttpGetWith(srv.Url("/login.json").c_str(), body, t));
    }
    EXPECT_LT(sent.load(), 400u); // given up before the answer was whole

    // A download may go on past the deadline only at its minimum rate.
    sent = 0;
    {
        ScriptServer srv;
        srv.Add(trickle(sent));
        t.minBytesPerSecond = 1000;
        const fs::path picture = tmp.Dir() / "a.jpg";
        EXPECT_FALSE(DownloadOnce(srv.Url("/a.jpg").c_str(), picture.u16string(), t));
    }
    EXPECT_LT(sent.load(), 400u);
    EXPECT_TRUE(fs::is_empty(tmp.Dir()));
}

} // namespace
