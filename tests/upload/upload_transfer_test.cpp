// The raw POST of a file byte for byte against a loopback peer we script: the request
// head, the body from the offset, progress, a peer that closes or stays silent, and the
// stop of the worker's thread.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/global_var.h"
#include "fake_upload_view.h"
#include "platform/event.h"
#include "upload/upload_protocol.h"

namespace {

enum class Peer { Answer, CloseAtOnce, Silent };

// Accepts one connection, reads the head and `bodyBytes` of body (or what comes before
// the client closes), then acts as told.
class ScriptedPeer {
public:
    explicit ScriptedPeer(Peer how) : how_(how) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedPeer() {
        done_ = true;
        thread_.join();
        close(fd_);
    }
    int Port() const { return port_; }
    // Everything received, once the exchange is over.
    std::string Received() {
        thread_.join();
        thread_ = std::thread([] {});
        return received_;
    }

private:
    void Serve() {
        pollfd p{fd_, POLLIN, 0};
        while (!done_ && poll(&p, 1, 50) == 0) {
        }
        if (done_)
            return;
        int c = accept(fd_, nullptr, nullptr);
        if (how_ == Peer::CloseAtOnce) {
            close(c);
            return;
        }
        char buf[65536];
        while (true) {
            std::size_t headEnd = received_.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                std::size_t at = received_.find("Content-Length: ");
                long long want = std::atoll(received_.c_str() + at + 16);
                if (static_cast<long long>(received_.size() - headEnd - 4) >= want)
                    break;
            }
            pollfd q{c, POLLIN, 0};
            if (poll(&q, 1, 5000) <= 0)
                break;
            ssize_t n = recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            received_.append(buf, static_cast<std::size_t>(n));
        }
        if (how_ == Peer::Answer) {
            std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
            send(c, ok.data(), ok.size(), MSG_NOSIGNAL);
        } else {
            // Silent: hold the connection until the client gives up.
            pollfd q{c, POLLIN, 0};
            poll(&q, 1, 5000);
        }
        close(c);
    }

    Peer how_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> done_{false};
    std::string received_;
    std::thread thread_;
};

class Transfer : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_xfer_XXXXXX";
        dir_ = mkdtemp(tmpl);
        CGlobalVar::m_nUploadCtrl = 0;
    }
    void TearDown() override {
        SetTransferTimeoutForTesting(0);
        CGlobalVar::m_nUploadCtrl = 0;
        EXPECT_EQ(std::system(("rm -rf " + dir_).c_str()), 0);
    }
    std::string MakeFile(std::size_t n) {
        content_.clear();
        for (std::size_t i = 0; i < n; ++i)
            content_.push_back(static_cast<char>((i * 7 + i / 251) & 0xFF));
        std::string p = dir_ + "/f.mp4";
        std::ofstream(p, std::ios::binary).write(content_.data(), static_cast<std::streamsize>(n));
        return p;
    }
    UpInfo Task(int port) {
        UpInfo t;
        CopyToFixed(t.m_tcUploadIp, u"127.0.0.1");
        t.m_nUploadPort = port;
        t.m_strFilePath = u"/the/file.mp4";
        return t;
    }
    std::string dir_, content_;
};

TEST_F(Transfer, RequestIsTheHeadAndTheBytesFromTheOffset) {
    std::string p = MakeFile(40000);
    ScriptedPeer peer(Peer::Answer);
    FakeUploadView view;
    std::string reply =
        PostFileData("/v2/upload.json?uid=1&mid=2", Task(peer.Port()), p.c_str(), 1000, &view);
    EXPECT_EQ(reply, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    std::string want = "POST /v2/upload.json?uid=1&mid=2 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                       "Accept: */*\r\nContent-Length: 39000\r\n\r\n" +
                       content_.substr(1000);
    EXPECT_EQ(peer.Received(), want);
    // (1000 + 15360) / 40000 = 40%, (1000 + 30720) / 40000 = 79%, then 99 at the end: 100
    // is the confirmation's to report.
    EXPECT_EQ(view.Progress(u"/the/file.mp4"), (std::vector<int>{40, 79, 99}));
}

TEST_F(Transfer, NothingLeftToSendAndEmptyFilesReport99Once) {
    for (std::size_t size : {std::size_t(0), std::size_t(15360)}) {
        std::string p = MakeFile(size);
        ScriptedPeer peer(Peer::Answer);
        FakeUploadView view;
        EXPECT_NE(PostFileData("/u", Task(peer.Port()), p.c_str(), size, &view), "0");
        EXPECT_EQ(
            peer.Received(),
            "POST /u HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\nContent-Length: 0\r\n\r\n");
        EXPECT_EQ(view.Progress(u"/the/file.mp4"), std::vector<int>{99}) << size;
    }
}

TEST_F(Transfer, LocalFailuresAndPeersThatDoNotAnswerGiveZero) {
    std::string p = MakeFile(100);
    {
        ScriptedPeer peer(Peer::CloseAtOnce);
        EXPECT_EQ(PostFileData("/u", Task(peer.Port()), p.c_str(), 0), "0");
    }
    {
        // A silent peer: the reply's time-out ends the wait (without it the call would
        // never return).
        SetTransferTimeoutForTesting(300);
        ScriptedPeer peer(Peer::Silent);
        EXPECT_EQ(PostFileData("/u", Task(peer.Port()), p.c_str(), 0), "0");
    }
    ScriptedPeer peer(Peer::Answer);
    EXPECT_EQ(PostFileData("/u", Task(peer.Port()), (p + "x").c_str(), 0), "0"); // no file
    EXPECT_EQ(PostFileData("/u", Task(peer.Port()), p.c_str(), 101), "0"); // offset past the end
    UpInfo noPort = Task(peer.Port());
    noPort.m_nUploadPort = 0;
    EXPECT_EQ(PostFileData("/u", noPort, p.c_str(), 0), "0");
    UpInfo longHost = Task(peer.Port());
    CopyToFixed(longHost.m_tcUploadIp, std::u16string(63, u'a'));
    EXPECT_EQ(PostFileData("/u", longHost, p.c_str(), 0), "0");
    CGlobalVar::m_nUploadCtrl = 2; // a pause that came before the first byte
    EXPECT_EQ(PostFileData("/u", Task(peer.Port()), p.c_str(), 0), "0");
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl, 2); // acting on it is the caller's part
}

TEST_F(Transfer, WorkerStopEndsAWaitForASilentPeer) {
    std::string p = MakeFile(100);
    ScriptedPeer peer(Peer::Silent);
    // Far longer than the test may run: only the stop can end the wait.
    SetTransferTimeoutForTesting(3600 * 1000);
    platform::EventHandle stop = platform::EventHandle::Create();
    std::string reply = "unset";
    std::thread worker([&] {
        platform::SetThreadCancelEvent(stop);
        reply = PostFileData("/u", Task(peer.Port()), p.c_str(), 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto t0 = std::chrono::steady_clock::now();
    stop.Set();
    worker.join();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    std::printf("figure: stop to end of the transfer's wait %lld ms\n",
                static_cast<long long>(ms.count()));
    EXPECT_EQ(reply, "0");
}

} // namespace
