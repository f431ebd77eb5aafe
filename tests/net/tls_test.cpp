// TLS against real TLS servers made here: certificates come from the openssl tool at test
// time (a CA, a good certificate, one for another name, a self-signed and an expired one).
// A good peer carries requests, keep-alive, chunked bodies, cookies and the upload POST
// intact; every bad one fails the call with nothing sent in clear.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "app/global_var.h"
#include "base/log_testing.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "net/http_get.h"
#include "net/http_get_with.h"
#include "net/net_link.h"
#include "platform/codepage.h"
#include "platform/event.h"
#include "platform/paths.h"
#include "upload/up_info.h"
#include "upload/upload_protocol.h"

namespace fs = std::filesystem;

namespace {

// Certificates for 127.0.0.1 and localhost, made once per run in a temporary folder.
struct Certs {
    fs::path dir;
    bool ok = false;
    std::string Path(const char* name) const { return (dir / name).string(); }
};

int Run(const fs::path& dir, const std::string& cmd) {
    return std::system(("cd '" + dir.string() + "' && " + cmd + " >/dev/null 2>&1").c_str());
}

const Certs& TestCerts() {
    static Certs c = [] {
        Certs k;
        k.dir = fs::temp_directory_path() / ("qumo_tls_" + std::to_string(::getpid()));
        fs::create_directories(k.dir);
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::ofstream(k.dir / "good.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        std::ofstream(k.dir / "other.ext") << "subjectAltName=DNS:other.example\n";
        std::ofstream(k.dir / "ca.cnf")
            << "[ca]\ndefault_ca=d\n[d]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n"
               "default_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n";
        std::ofstream(k.dir / "index.txt");
        std::ofstream(k.dir / "serial") << "1000\n";
        auto leaf = [&](const std::string& name, const std::string& ext) {
            return "openssl req " + key + " -keyout " + name + ".key -out " + name +
                   ".csr -subj /CN=" + name + " && openssl x509 -req -in " + name +
                   ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out " + name +
                   ".pem -extfile " + ext;
        };
        k.ok = Run(k.dir, "openssl req -x509 " + key +
                              " -keyout ca.key -out ca.pem -days 2 -subj /CN=QumoTestCA") == 0 &&
               Run(k.dir, leaf("good", "good.ext")) == 0 &&
               Run(k.dir, leaf("other", "other.ext")) == 0 &&
               Run(k.dir, "openssl req -x509 " + key +
                              " -keyout self.key -out self.pem -days 2 -subj /CN=127.0.0.1"
                              " -addext subjectAltName=IP:127.0.0.1") == 0 &&
               Run(k.dir, "openssl req " + key +
                              " -keyout old.key -out old.csr -subj /CN=old && openssl ca -batch"
                              " -config ca.cnf -cert ca.pem -keyfile ca.key -in old.csr -out"
                              " old.pem -startdate 20200101000000Z -enddate 20200102000000Z"
                              " -extfile good.ext") == 0;
        return k;
    }();
    return c;
}

// A loopback server: TLS with a given certificate, or plain bytes, or one that accepts and
// never says a word. Each connection runs the script on its own thread; everything it read
// is recorded.
class Server {
public:
    enum class Mode { Tls, Plain, Stall };
    using Script = std::function<void(Server&, int fd, SSL* ssl)>;

    Server(Mode mode, const std::string& cert, Script script)
        : m_mode(mode), m_script(std::move(script)) {
        if (mode == Mode::Tls) {
            m_ctx = SSL_CTX_new(TLS_server_method());
            SSL_CTX_use_certificate_chain_file(m_ctx,
                                               TestCerts().Path((cert + ".pem").c_str()).c_str());
            SSL_CTX_use_PrivateKey_file(m_ctx, TestCerts().Path((cert + ".key").c_str()).c_str(),
                                        SSL_FILETYPE_PEM);
        }
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 8);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Accept(); });
    }
    ~Server() {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_thread.join();
        for (auto& t : m_conns)
            t.join();
        ::close(m_listen);
        if (m_ctx)
            SSL_CTX_free(m_ctx);
    }
    int Port() const { return m_port; }
    std::string Base(const char* scheme = "https") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port);
    }
    int Accepted() const { return m_accepted; }
    int Handshakes() const { return m_handshakes; }
    std::string Received() {
        std::lock_guard<std::mutex> g(m_mu);
        return m_received;
    }

    // Reads one request (header, then Content-Length body bytes), recording it.
    static std::string ReadRequest(Server& s, int fd, SSL* ssl) {
        std::string got;
        std::size_t need = std::string::npos;
        char buf[4096];
        while (need == std::string::npos || got.size() < need) {
            const int n = ssl ? SSL_read(ssl, buf, sizeof buf)
                              : static_cast<int>(::recv(fd, buf, sizeof buf, 0));
            if (n <= 0)
                break;
            got.append(buf, static_cast<std::size_t>(n));
            const std::size_t end = got.find("\r\n\r\n");
            if (need == std::string::npos && end != std::string::npos) {
                const std::size_t cl = got.find("Content-Length: ");
                need = end + 4 +
                       (cl != std::string::npos && cl < end ? std::stoul(got.substr(cl + 16)) : 0);
            }
        }
        std::lock_guard<std::mutex> g(s.m_mu);
        s.m_received += got;
        return got;
    }
    static void Send(int fd, SSL* ssl, const std::string& bytes) {
        if (ssl)
            SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
        else
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

private:
    void Accept() {
        while (!m_stop) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            ++m_accepted;
            timeval tv{5, 0}; // a script never waits for ever
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            m_conns.emplace_back([this, fd] {
                if (m_mode == Mode::Stall) {
                    pollfd p{fd, POLLRDHUP, 0};
                    for (int i = 0; i < 300 && !m_stop && ::poll(&p, 1, 100) == 0; ++i) {
                    }
                } else if (m_mode == Mode::Plain) {
                    m_script(*this, fd, nullptr);
                } else {
                    SSL* ssl = SSL_new(m_ctx);
                    SSL_set_fd(ssl, fd);
                    if (SSL_accept(ssl) == 1) {
                        ++m_handshakes;
                        m_script(*this, fd, ssl);
                        SSL_shutdown(ssl);
                    }
                    SSL_free(ssl);
                }
                ::close(fd);
            });
        }
    }

    Mode m_mode;
    Script m_script;
    SSL_CTX* m_ctx = nullptr;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0}, m_handshakes{0};
    std::thread m_thread;
    std::vector<std::thread> m_conns; // touched by the accept thread only until the end
    std::mutex m_mu;
    std::string m_received;
};

class Tls : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TestCerts().ok)
            GTEST_SKIP() << "the openssl tool could not make the test certificates";
        net::SetExtraCaFile(TestCerts().Path("ca.pem"));
        m_api = hosts::ApiBase();
    }
    void TearDown() override {
        net::SetExtraCaFile("");
        hosts::SetAllServiceHosts(m_api);
    }
    static HttpTimings Short() {
        HttpTimings t;
        t.connectTimeoutMs = 3000;
        t.readTimeoutMs = 3000;
        return t;
    }
    std::string m_api;
};

} // namespace

TEST_F(Tls, GoodPeerKeepsRequestsKeepAliveChunksCookiesAndRedirects) {
    Server srv(Server::Mode::Tls, "good", [](Server& s, int fd, SSL* ssl) {
        Server::ReadRequest(s, fd, ssl);
        Server::Send(
            fd, ssl,
            "HTTP/1.1 200 OK\r\nSet-Cookie: s=1; secure\r\nContent-Length: 5\r\n\r\nfirst");
        Server::ReadRequest(s, fd, ssl);
        Server::Send(fd, ssl,
                     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "3\r\nsec\r\n4\r\nond!\r\n0\r\n\r\n");
        Server::ReadRequest(s, fd, ssl);
        Server::Send(fd, ssl,
                     "HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1/next\r\n"
                     "Content-Length: 0\r\n\r\n");
        Server::ReadRequest(s, fd, ssl);
        Server::Send(fd, ssl,
                     "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/down\r\n"
                     "Content-Length: 0\r\n\r\n");
        Server::ReadRequest(s, fd, ssl); // nothing more comes on this connection
    });
    HttpClient client(Short());
    const int t = client.OpenTarget("127.0.0.1", srv.Port(), true);
    ASSERT_GE(t, 0);
    auto r1 = client.SendRequest(t, "GET", "/a?x=1");
    ASSERT_TRUE(r1);
    EXPECT_EQ(r1->status, 200);
    EXPECT_EQ(r1->response->Body(), "first");
    auto r2 = client.SendRequest(t, "GET", "/b");
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->response->Body(), "second!");
    // https -> https on the same host is followed; a step down to http is refused and the
    // 302 comes back as it is.
    auto r3 = client.SendRequest(t, "GET", "/c");
    ASSERT_TRUE(r3);
    EXPECT_EQ(r3->status, 302);
    EXPECT_EQ(*r3->response->GetHeaderValue("Location:"), "http://127.0.0.1/down");
    r3.reset();
    client.CloseTarget(t);

    const std::string ua = "User-Agent: Mozilla/5.0 (compatible; MSIE 7.0; QumoHttp 1.3)\r\n";
    EXPECT_EQ(srv.Received(), "GET /a?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + ua +
                                  "Connection: Keep-Alive\r\n\r\n"
                                  "GET /b HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                  ua +
                                  "Cookie: s=1\r\nConnection: Keep-Alive\r\n\r\n"
                                  "GET /c HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                  ua +
                                  "Cookie: s=1\r\nConnection: Keep-Alive\r\n\r\n"
                                  "GET /next HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                  ua + "Cookie: s=1\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_EQ(srv.Accepted(), 1); // one kept-alive connection carried all four

    // The simple GET by host name (checked against the certificate's DNS name), and an
    // "http://" URL of a host configured as https: it goes over TLS too.
    Server one(Server::Mode::Tls, "good", [](Server& s, int fd, SSL* ssl) {
        Server::ReadRequest(s, fd, ssl);
        Server::Send(fd, ssl, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    std::string body;
    EXPECT_TRUE(HttpGetWith(("https://localhost:" + std::to_string(one.Port()) + "/n").c_str(),
                            body, Short()));
    EXPECT_EQ(body, "ok");
    hosts::SetApi(one.Base());
    body.clear();
    EXPECT_TRUE(HttpGetWith((one.Base("http") + "/m").c_str(), body, Short()));
    EXPECT_EQ(body, "ok");
    EXPECT_EQ(one.Handshakes(), 2);
}

TEST_F(Tls, RefusedCertificatesFailTheCallWithNothingSent) {
    auto answer = [](Server& s, int fd, SSL* ssl) {
        Server::ReadRequest(s, fd, ssl);
        Server::Send(fd, ssl, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
    struct Case {
        const char* cert;
        bool withCa;
    } cases[] = {{"other", true}, {"self", false}, {"old", true}};
    // The log says why, in a folder of our own.
    const fs::path bin = TestCerts().dir / "bin";
    fs::create_directories(bin / "log");
    platform::OverrideModuleFileName(platform::FromNarrow((bin / "QumoClient").string()));
    ResetLogForTesting();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cert);
        net::SetExtraCaFile(c.withCa ? TestCerts().Path("ca.pem") : "");
        Server srv(Server::Mode::Tls, c.cert, answer);
        std::string body = "unchanged";
        EXPECT_FALSE(HttpGetWith((srv.Base() + "/x").c_str(), body, Short()));
        EXPECT_EQ(body, "unchanged");
        EXPECT_EQ(net::LastTlsFailure(), net::TlsFailure::Certificate);
        // The login tells the user, in his words, and never tries plain HTTP.
        hosts::SetApi(srv.Base());
        const LoginAnswer login = ApiLogin(u"13800138000", u"pw");
        EXPECT_EQ(LoginFailureText(login), u"无法建立安全连接：证书无效！");
        EXPECT_EQ(srv.Handshakes(), 0);
        EXPECT_EQ(srv.Received(), "");
    }
    std::ifstream in(bin / "log" / "QumoClient.log", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string log; // ASCII out of UTF-16LE
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
        log += raw[i + 1] == 0 ? raw[i] : '?';
    platform::OverrideModuleFileName(u"");
    ResetLogForTesting();
    EXPECT_NE(log.find("TLS connection to 127.0.0.1 failed: certificate refused: "
                       "IP address mismatch"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("certificate refused: self-signed certificate"), std::string::npos);
    EXPECT_NE(log.find("certificate refused: certificate has expired"), std::string::npos);
}

TEST_F(Tls, PlainServerOnAnHttpsAddressNeverSeesTheRequest) {
    Server plain(Server::Mode::Plain, "", [](Server& s, int fd, SSL*) {
        char buf[2048];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0); // the client's hello
        {
            std::string got(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
            Server::Send(fd, nullptr, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
            (void)s;
            EXPECT_TRUE(got.empty() || got[0] == '\x16') << got; // a TLS record, no HTTP
            EXPECT_EQ(got.find("GET"), std::string::npos);
        }
    });
    std::string body;
    EXPECT_FALSE(HttpGetWith((plain.Base() + "/secret?pwd=x").c_str(), body, Short()));
    EXPECT_EQ(net::LastTlsFailure(), net::TlsFailure::Handshake);
    hosts::SetApi(plain.Base());
    EXPECT_EQ(LoginFailureText(ApiLogin(u"13800138000", u"pw")), u"无法建立安全连接，请检查网络！");
    EXPECT_GE(plain.Accepted(), 1);
}

TEST_F(Tls, StalledHandshakeEndsOnItsTimeOutAndOnTheWorkersStop) {
    Server stall(Server::Mode::Stall, "", nullptr);
    std::string body;
    HttpTimings quick = Short();
    quick.connectTimeoutMs = 300;
    EXPECT_FALSE(HttpGetWith((stall.Base() + "/t").c_str(), body, quick));
    EXPECT_EQ(net::LastTlsFailure(), net::TlsFailure::Handshake);

    // With a long time-out it is the stop event that ends the handshake.
    platform::EventHandle stop = platform::EventHandle::Create();
    HttpTimings slow = Short();
    slow.connectTimeoutMs = 120000;
    slow.callDeadlineMs = 0;
    const std::string url = stall.Base() + "/t";
    auto done = std::async(std::launch::async, [&] {
        platform::SetThreadCancelEvent(stop);
        std::string b;
        return HttpGetWith(url.c_str(), b, slow);
    });
    for (int i = 0; i < 200 && stall.Accepted() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop.Set();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_FALSE(done.get());
}

TEST_F(Tls, UploadPostGoesOverTlsByteForByte) {
    const fs::path file = TestCerts().dir / "photo.jpg";
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 251);
    std::ofstream(file, std::ios::binary) << content;

    Server up(Server::Mode::Tls, "good", [](Server& s, int fd, SSL* ssl) {
        Server::ReadRequest(s, fd, ssl);
        Server::Send(fd, ssl, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK");
    });
    hosts::SetApi("https://127.0.0.1:1"); // an https service: its upload servers speak TLS
    UpInfo info;
    const std::u16string ip = u"127.0.0.1";
    info.m_tcUploadIp = ip;
    info.m_nUploadPort = up.Port();
    CGlobalVar::m_nUploadCtrl = 0;
    const std::string reply = PostFileData("/upload?id=7", info, file.c_str(), 1000, nullptr);
    EXPECT_NE(reply.find("OK"), std::string::npos) << reply;
    EXPECT_EQ(up.Received(), "POST /upload?id=7 HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                             "Content-Length: 99000\r\n\r\n" +
                                 content.substr(1000));

    // The same upload server with a certificate for another name: nothing is sent.
    Server wrong(Server::Mode::Tls, "other",
                 [](Server& s, int fd, SSL* ssl) { Server::ReadRequest(s, fd, ssl); });
    info.m_nUploadPort = wrong.Port();
    EXPECT_EQ(PostFileData("/upload?id=7", info, file.c_str(), 0, nullptr), "0");
    EXPECT_EQ(wrong.Received(), "");
}
