// Mean time per call of sequential HttpModuleGet calls of a small JSON body, against one
// curl process making the same number of requests without keep-alive, both served by the
// minimal threaded server below (a slow server would hide the clients' costs). Also the
// times the client's tests check only as behaviour: a client's creation and destruction,
// a pair of requests with bodies on one kept-alive connection (Nagle's algorithm would add
// ~40 ms), and how soon a stop ends a GET waiting on a silent server.
//
// Usage: bench_http [calls]   (default 2000; curl must be on PATH)
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/event.h"

namespace {

const std::string kJson = "{\"status\":200,\"debug\":\"\",\"message\":\"\",\"attachment\":"
                          "{\"total\":10737418240,\"used\":123456789}}";

// Answers every request of one connection; closes after a request asking for it.
void ServeConnection(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string buf;
    char tmp[4096];
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                              "Content-Length: " +
                              std::to_string(kJson.size()) + "\r\n\r\n" + kJson;
    for (;;) {
        std::size_t end;
        while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = recv(fd, tmp, sizeof tmp, 0);
            if (n <= 0) {
                close(fd);
                return;
            }
            buf.append(tmp, static_cast<std::size_t>(n));
        }
        std::string head = buf.substr(0, end + 4);
        buf.erase(0, end + 4);
        std::size_t cl = head.find("Content-Length: ");
        std::size_t bodyLen =
            cl == std::string::npos ? 0 : std::strtoul(&head[cl + 16], nullptr, 10);
        while (buf.size() < bodyLen) {
            ssize_t n = recv(fd, tmp, sizeof tmp, 0);
            if (n <= 0) {
                close(fd);
                return;
            }
            buf.append(tmp, static_cast<std::size_t>(n));
        }
        buf.erase(0, bodyLen);
        bool closing = head.find("Connection: close") != std::string::npos ||
                       head.find("connection: close") != std::string::npos;
        if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0 || closing) {
            close(fd);
            return;
        }
    }
}

struct Server {
    int fd = -1;
    int port = 0;
    std::thread acceptor;
    std::atomic<bool> stop{false};

    bool Start() {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 512) != 0)
            return false;
        socklen_t len = sizeof sa;
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
        acceptor = std::thread([this] {
            while (!stop) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0)
                    continue;
                int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0)
                    std::thread(ServeConnection, c).detach();
            }
        });
        return true;
    }
    ~Server() {
        stop = true;
        if (acceptor.joinable())
            acceptor.join();
        if (fd >= 0)
            close(fd);
    }
};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Mean time of creating and destroying a client with the product's timings.
double ClientLifetime(int rounds) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        HttpClient client;
    return Seconds(std::chrono::steady_clock::now() - t0) / rounds;
}

// Mean time of two POSTs with bodies on one kept-alive connection.
double RequestPair(int port, int rounds) {
    HttpClient client;
    int t = client.OpenTarget("127.0.0.1", port, false);
    auto post = [&] {
        auto m = client.BuildRequest(t, "POST", "/up");
        m->AddHeaderLine("Content-Length: 5");
        m->SetBody("hello");
        return client.DispatchHTTPRequest(t, *m) != nullptr;
    };
    if (!post())
        return -1;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        if (!post() || !post())
            return -1;
    return Seconds(std::chrono::steady_clock::now() - t0) / rounds;
}

// Time from a stop to the end of a GET whose server accepted and never answers.
double StopOfSilentGet() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(fd);
        return -1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(sa.sin_port)) + "/slow";
    auto stop = platform::EventHandle::Create();
    std::chrono::steady_clock::time_point ended;
    std::thread worker([&] {
        platform::SetThreadCancelEvent(stop);
        std::string body;
        HttpModuleGet(url.c_str(), body); // the product's 10-second waits
        ended = std::chrono::steady_clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto stopped = std::chrono::steady_clock::now();
    stop.Set();
    worker.join();
    close(fd);
    return Seconds(ended - stopped);
}

} // namespace

int main(int argc, char** argv) {
    int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (calls <= 0)
        calls = 2000;
    Server srv;
    if (!srv.Start()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        return 1;
    }
    std::string url = "http://127.0.0.1:" + std::to_string(srv.port) + "/getspace.json?uid=1";

    // Warm-up of both clients (first connections, page cache of curl's libraries).
    std::string body;
    for (int i = 0; i < 20; ++i)
        HttpModuleGet(url.c_str(), body);

    auto t0 = std::chrono::steady_clock::now();
    int ok = 0;
    for (int i = 0; i < calls; ++i) {
        body.clear();
        ok += HttpModuleGet(url.c_str(), body) && body == kJson;
    }
    double ours = Seconds(std::chrono::steady_clock::now() - t0) / calls;
    if (ok != calls) {
        std::fprintf(stderr, "only %d of %d calls succeeded\n", ok, calls);
        return 1;
    }

    char cfg[] = "/tmp/bench_http_XXXXXX";
    int cfd = mkstemp(cfg);
    if (cfd < 0)
        return 1;
    std::string lines;
    for (int i = 0; i < calls; ++i)
        lines += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
    if (write(cfd, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
        return 1;
    close(cfd);
    std::string cmd = std::string("curl -s -H 'Connection: close' -K ") + cfg;
    std::string warm = "curl -s -o /dev/null '" + url + "'";
    if (std::system(warm.c_str()) != 0) {
        std::fprintf(stderr, "curl failed\n");
        unlink(cfg);
        return 1;
    }
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        auto c0 = std::chrono::steady_clock::now();
        int rc = std::system(cmd.c_str());
        double per = Seconds(std::chrono::steady_clock::now() - c0) / calls;
        if (rc != 0) {
            std::fprintf(stderr, "curl failed\n");
            unlink(cfg);
            return 1;
        }
        if (round == 0 || per < best)
            best = per;
    }
    unlink(cfg);

    std::printf("HttpModuleGet:        %d calls, %.1f us per call\n", calls, ours * 1e6);
    std::printf("curl (no keep-alive): %d requests, %.1f us per request (best of 3 runs)\n", calls,
                best * 1e6);
    std::printf("ratio ours/curl:      %.2f (goal <= 1.5)\n", ours / best);
    std::printf("client create+destroy: %.1f us (goal < 1000 ms)\n", ClientLifetime(200) * 1e6);
    std::printf("POST pair, kept alive: %.2f ms (goal < 40 ms)\n",
                RequestPair(srv.port, 200) * 1e3);
    std::printf("stop of a silent GET:  %.1f ms (goal < 1000 ms)\n", StopOfSilentGet() * 1e3);
    return 0;
}
