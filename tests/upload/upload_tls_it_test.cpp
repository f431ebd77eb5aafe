// The client against qumo-service over TLS, with a CA and certificate this test makes: the
// login, the folder listing and a whole upload (announcement, offset, POST, confirmation)
// over https, the CA given to the client as its extra CA, while two peers stall in their
// handshakes (they are cut off after the head time). A plain-HTTP client on either TLS port
// gets a plain refusal and the end of the connection, and the service serves on.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/global_var.h"
#include "fake_upload_view.h"
#include "net/hosts.h"
#include "net/net_link.h"
#include "tests/0support/raw_http.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload_it_util.h"

using namespace upload_it;

namespace {

// A CA and a certificate it signed for 127.0.0.1, made with the openssl tool in `dir`.
bool MakeCerts(const std::string& dir) {
    std::ofstream(dir + "/leaf.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::string cmd = "cd '" + dir + "' && openssl req -x509 " + key +
                      " -keyout ca.key -out ca.pem -days 2 -subj /CN=QumoTlsTestCA"
                      " && openssl req " +
                      key +
                      " -keyout server.key -out server.csr -subj /CN=127.0.0.1"
                      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key"
                      " -CAcreateserial -days 2 -out server.pem -extfile leaf.ext";
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// A loopback connection that sends `bytes` and then nothing.
int Stall(int port, const std::string& bytes) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
                    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
                        static_cast<ssize_t>(bytes.size()))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the service ends the connection (within a bound far above its head time).
bool ClosedByService(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c;
    bool closed = ::poll(&p, 1, 20000) > 0 && ::recv(fd, &c, 1, 0) <= 0;
    ::close(fd);
    return closed;
}

void ExpectPlainRefused(int port) {
    RawResponse r;
    ASSERT_TRUE(RawGet(port, "/getspace.json", r)) << "port " << port;
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.body, "This port speaks TLS (https).\r\n");
    EXPECT_TRUE(r.closed);
}

TEST(UploadTls, LoginListAndUploadOverHttps) {
    char tmpl[] = "/tmp/qumo_uptls_XXXXXX";
    std::string dir = mkdtemp(tmpl);
    if (!MakeCerts(dir)) {
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
        GTEST_SKIP() << "the openssl tool could not make the test certificates";
    }
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(dir + "/QumolanUploadList.xml");
    ServiceSession service;
    ASSERT_TRUE(service.Start({"--tls-cert", dir + "/server.pem", "--tls-key", dir + "/server.key",
                               "--head-timeout-ms", "500"}));
    hosts::SetAllServiceHosts("https://" + service.ApiHost());
    net::SetExtraCaFile(dir + "/ca.pem");
    ExpectPlainRefused(service.Port());
    // A handshake record announced at 512 bytes of which none come, and a silent peer.
    const int stalled = Stall(service.Port(), std::string("\x16\x03\x01\x02\x00", 5));
    const int silent = Stall(service.Port(), "");
    ASSERT_GE(stalled, 0);
    ASSERT_GE(silent, 0);

    ASSERT_TRUE(service.Login());
    // Addresses the service names follow its scheme.
    EXPECT_EQ(service.login.headface.rfind("https://" + service.ApiHost() + "/", 0), 0u)
        << service.login.headface;
    const size_t before = service.ListFolder(0).size();
    ASSERT_GT(before, 0u);

    // Over a megabyte and not a multiple of a TLS record: the body spans many records.
    std::string p = dir + "/tls_" + std::to_string(::getpid()) + ".mp4";
    WriteFreshFile(p, (1 << 20) + 16385);
    UpInfo t = MakeTask(p);
    ASSERT_TRUE(AddUploadTaskList(t));
    FakeUploadView view;
    EXPECT_EQ(UploadOneFile(t, &view), kUploadDone);
    const std::string sha1 = FileSha1(p);
    EXPECT_EQ(ReadBytes(service.DataDir() + "/blobs/" + sha1.substr(0, 2) + "/" + sha1),
              ReadBytes(p));
    std::vector<ServerFileEntry> after = service.ListFolder(0);
    EXPECT_EQ(after.size(), before + 1);
    bool listed = false;
    for (const ServerFileEntry& e : after)
        listed = listed || (e.name == t.m_strFileName && e.size == (1u << 20) + 16385);
    EXPECT_TRUE(listed);

    ASSERT_GT(t.m_nUploadPort, 0);
    ExpectPlainRefused(t.m_nUploadPort);
    EXPECT_TRUE(service.Login()); // still serving TLS after the refusals
    EXPECT_TRUE(ClosedByService(stalled));
    EXPECT_TRUE(ClosedByService(silent));
    net::SetExtraCaFile("");
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

} // namespace
