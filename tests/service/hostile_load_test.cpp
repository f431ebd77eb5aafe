// A real service under hostile load, as a stranger on the same machine could make it. The
// times are printed, never asserted: with hundreds of slow-header connections held open on
// both listeners a legitimate API call and upload still go through; a flood of header bytes
// and sixteen hostile pictures at once leave the service's memory bounded; guessed file,
// picture, avatar and upload ids give nothing. QUMO_HOSTILE_CONNECTIONS sets the number of
// slow connections per listener (500 by default).
#include "tests/service/service_client.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A connection to 127.0.0.1:port from another loopback address: every address of 127/8 is
// this machine, so one test plays many clients.
int ConnectFrom(const std::string& source, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &a.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request on a new connection from `source`; the HTTP status and the body (read until
// the connection closes, at most 2 s).
int ExchangeFrom(const std::string& source, int port, const std::string& request,
                 std::string& body) {
    int fd = ConnectFrom(source, port);
    if (fd < 0)
        return -1;
    std::string all;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        char buf[8192];
        for (int i = 0; i < 1000; ++i) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                break;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            all.append(buf, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    size_t end = all.find("\r\n\r\n");
    if (all.size() < 12 || end == std::string::npos)
        return 0;
    body = all.substr(end + 4);
    return std::atoi(all.c_str() + 9);
}

long long ProcKb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(field) + 1);
    return -1;
}

std::string Encode(const QImage& img) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QImageWriter w(&buf, "png");
    w.setQuality(0); // strongest compression: a few kilobytes that unpack to many megabytes
    w.write(img);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

class HostileLoad : public ::testing::Test {
protected:
    void SetUp() override {
        rlimit files{};
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
        ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
        ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    }
    ServiceProcess svc;
    Login me;
};

TEST_F(HostileLoad, SlowHeadersFloodsAndGuessesLeaveTheServiceUsable) {
    const char* env = std::getenv("QUMO_HOSTILE_CONNECTIONS");
    const int perListener = env ? std::max(1, std::atoi(env)) : 500;
    // Slow-header clients from ten addresses: each sent the start of a head and stops.
    std::vector<int> slow;
    for (int port : {svc.ApiPort(), svc.UploadPort()}) {
        for (int i = 0; i < perListener; ++i) {
            int fd = ConnectFrom("127.0.1." + std::to_string(1 + i % 10), port);
            ASSERT_GE(fd, 0) << i;
            const char part[] = "GET /getspace.json?uid=1 HTTP/1.1\r\nX-Slow: a";
            ::send(fd, part, sizeof part - 1, MSG_NOSIGNAL);
            slow.push_back(fd);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto t0 = Clock::now();
    Login other;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), other));
    double apiMs = MsSince(t0);
    t0 = Clock::now();
    ASSERT_GT(UploadWhole(svc, me, 0, "legit.png", RandomBytes(200000, 7)), 0);
    double uploadMs = MsSince(t0);
    std::printf("[ figures ] %d slow-header connections on each listener: login %.1f ms, "
                "upload of 200 KB %.1f ms\n",
                perListener, apiMs, uploadMs);
    // One address gets only its share of connections; the rest are turned away at once.
    std::vector<int> one;
    for (int i = 0; i < 100; ++i)
        one.push_back(ConnectFrom("127.0.2.2", svc.ApiPort()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int turnedAway = 0;
    for (int fd : one) {
        char buf[64];
        pollfd p{fd, POLLIN, 0};
        turnedAway += ::poll(&p, 1, 0) > 0 && ::recv(fd, buf, sizeof buf, 0) > 0 &&
                      std::string(buf, 12) == "HTTP/1.1 503";
        ::close(fd);
    }
    std::printf("[ figures ] 100 connections from one address: %d turned away\n", turnedAway);
    EXPECT_GE(turnedAway, 100 - 64);
    for (int fd : slow)
        ::close(fd);

    // A flood of header lines: the service stops reading at its head limit.
    int fd = ConnectFrom("127.0.3.1", svc.ApiPort());
    ASSERT_GE(fd, 0);
    std::string lines = "GET / HTTP/1.1\r\n";
    while (lines.size() < 64 * 1024)
        lines += "X-Pad: " + std::string(100, 'a') + "\r\n";
    long long sent = 0;
    for (int i = 0; i < 16384; ++i) { // at most 1 GiB
        ssize_t n = ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
    ::close(fd);
    std::printf("[ figures ] header flood: %lld bytes taken before the service closed; "
                "service memory %lld kB\n",
                sent, ProcKb(svc.Pid(), "VmRSS:"));
    EXPECT_LT(sent, 64LL << 20);

    // Sixteen hostile pictures at once: eight past the pixel budget (never decoded), eight just
    // inside it (decoded two at a time). Bytes after the image's end make each one new content.
    QImage huge(6324, 6324, QImage::Format_Grayscale8);
    huge.fill(0);
    const std::string hugePng = Encode(huge);
    huge = QImage();
    QImage big(3400, 3400, QImage::Format_RGB888);
    big.fill(Qt::darkGreen);
    const std::string bigPng = Encode(big);
    big = QImage();
    std::printf("[ figures ] hostile PNGs: %zu bytes for 6324 x 6324, %zu bytes for 3400 x 3400\n",
                hugePng.size(), bigPng.size());
    std::vector<std::thread> uploads;
    std::atomic<int> done{0};
    t0 = Clock::now();
    for (int i = 0; i < 16; ++i) {
        uploads.emplace_back([&, i] {
            std::string bytes = (i % 2 ? hugePng : bigPng) + "tail" + std::to_string(i);
            done += UploadWhole(svc, me, 0, "hostile" + std::to_string(i) + ".png", bytes) > 0;
        });
    }
    for (std::thread& t : uploads)
        t.join();
    long long peakKb = ProcKb(svc.Pid(), "VmHWM:");
    std::printf("[ figures ] 16 hostile PNGs uploaded in %.0f ms; service peak memory %lld kB\n",
                MsSince(t0), peakKb);
    EXPECT_EQ(done.load(), 16);
    EXPECT_GT(peakKb, 0);
    EXPECT_LT(peakKb, 200 * 1024);

    // Guessed ids: files, pictures, avatars and uploads, from one address.
    Json::Value list;
    ASSERT_TRUE(
        ApiGet(svc, "/getfilesforpc.json?" + Auth(me) + "&mid=-1&folderid=0&num=100", list));
    std::string sha1; // of a stored file: only the capability beside it is guessed
    for (const Json::Value& e : list["attachment"]["filelist"])
        if (e["type"].asInt() != 100)
            sha1 = e["mobilepic"].asString().substr(39, 40);
    ASSERT_EQ(sha1.size(), 40u);
    std::mt19937_64 rng(20120123);
    auto cap = [&] {
        char hex[33];
        std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(rng()),
                      static_cast<unsigned long long>(rng()));
        return std::string(hex);
    };
    int withContent = 0, answered = 0;
    t0 = Clock::now();
    for (int i = 0; i < 10000; ++i) {
        std::string target;
        int port = svc.ApiPort();
        switch (i % 4) {
        case 0:
            target = "/src/" + cap();
            break;
        case 1:
            target = "/pic/s/" + cap() + "/" + sha1 + ".png";
            break;
        case 2:
            target = "/avatar/" + cap() + ".png";
            break;
        default:
            target = "/v2/getupload.json?uid=" + me.uid +
                     "&mid=" + std::to_string(1 + rng() % 0x7FFFFFFF) +
                     "&upid=" + std::to_string(1 + rng() % 0x7FFFFFFF);
            port = svc.UploadPort();
        }
        std::string body;
        int status = ExchangeFrom("127.0.4.1", port,
                                  "GET " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n", body);
        answered += status > 0;
        Json::Value v;
        bool envelopeOk = ParseJson(body, v) && v["status"].asInt() == 200;
        withContent += status == 200 && (port == svc.ApiPort() || envelopeOk);
    }
    std::printf("[ figures ] 10000 guessed ids: %d answered, %d with content, %.0f ms\n", answered,
                withContent, MsSince(t0));
    EXPECT_EQ(withContent, 0);
    EXPECT_EQ(answered, 10000);
    // The service is still itself afterwards.
    EXPECT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), other));
}

} // namespace
