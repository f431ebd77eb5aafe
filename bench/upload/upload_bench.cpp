// Uploads a large file to a local qumo-service with PostFileData and UploadOneFile, and
// the same number of bytes with curl, and prints MB/s, the ratios and the peak memory.
// Given an https API address it measures the transfer over TLS only, against curl to the
// same https upload address; QUMO_BENCH_CA names the CA both trust.
//
//   upload_bench [https://]API_HOST:PORT MOBILE PASSWORD FILE_MB WORK_DIR
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "base/file_sha1.h"
#include "bench/bench_util.h"
#include "net/api_answer.h"
#include "net/api_calls.h"
#include "net/api_url.h"
#include "net/hosts.h"
#include "net/http_get.h"
#include "net/net_link.h"
#include "platform/codepage.h"
#include "upload/upload_protocol.h"

namespace {

using bench::Clock;
using bench::RssKb;
using bench::Seconds;

long PeakRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Writes `mb` MiB of pseudo-random bytes; the first 8 bytes are changed per measurement
// so every upload is new content to the service.
bool MakeFile(const std::string& path, int mb) {
    int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0)
        return false;
    std::vector<uint64_t> block(1 << 17);
    std::mt19937_64 rng(42);
    for (auto& w : block)
        w = rng();
    for (int i = 0; i < mb; ++i) {
        block[0] = static_cast<uint64_t>(i); // no two MiB alike
        if (::write(fd, block.data(), 1 << 20) != (1 << 20))
            return false;
    }
    // On disk before any figure is taken, so write-back does not slow the first one.
    ::fsync(fd);
    ::close(fd);
    return true;
}

void Stamp(const std::string& path, uint64_t value) {
    int fd = ::open(path.c_str(), O_WRONLY);
    if (fd >= 0) {
        if (::pwrite(fd, &value, sizeof value, 0) != sizeof value)
            std::perror("pwrite");
        ::close(fd);
    }
}

std::string Sha1Of(const std::string& path) {
    std::string cmd = "openssl dgst -sha1 -r " + path;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[128] = {};
    if (p == nullptr || std::fgets(buf, sizeof buf, p) == nullptr)
        return {};
    pclose(p);
    return std::string(buf, 40);
}

// Announces a file and returns the upload path on its upload server ("" on failure).
std::string OpenSession(UpInfo& t, const std::string& sha1, std::string& server) {
    CAppSettings& st = GetAppSettings();
    std::string url = hosts::ApiBase() + "/allinone.json?uid=" + st.m_szUid +
                      "&token=" + st.m_szToken + "&sha1=" + sha1 +
                      "&folderid=0&filename=" + api_url::EscapeUtf8(t.m_strFileName) +
                      "&suffix=mp4&size=" + std::to_string(t.m_nFileLen) +
                      "&upchannel=4&retry=0&client=pc&foldername=";
    std::string body;
    ApiAnswer a;
    std::string ip;
    int mid = 0, upid = 0;
    if (!HttpModuleGet(url.c_str(), body) || ParseApiAnswer(body, a) != AnswerParse::Ok ||
        !api_json::Int(a.attachment, "mid", mid) || !api_json::Int(a.attachment, "upid", upid) ||
        !api_json::Text(a.attachment, "uploadip", ip))
        return {};
    std::size_t colon = ip.find(':');
    CopyToFixed(t.m_tcUploadIp, platform::FromNarrow(ip.substr(0, colon)));
    t.m_nUploadPort = std::atoi(ip.c_str() + colon + 1);
    server = hosts::ApiBase().substr(0, hosts::ApiBase().find("://") + 3) + ip;
    return "/v2/upload.json?uid=" + std::string(st.m_szUid) + "&mid=" + std::to_string(mid) +
           "&upid=" + std::to_string(upid) + "&upchannel=4&suffix=mp4&folderid=0";
}

double CurlSeconds(const std::string& file, const std::string& url) {
    const std::string ca = net::ExtraCaFile();
    std::string cmd = "curl -s -o /dev/null -X POST -T " + file + " -H \"Content-Type:\" " +
                      (ca.empty() ? "" : "--cacert " + ca + " ") + "\"" + url + "\"";
    auto t0 = Clock::now();
    int rc = std::system(cmd.c_str());
    double s = Seconds(t0);
    if (rc != 0)
        std::fprintf(stderr, "curl failed (%d)\n", rc);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: upload_bench API_HOST:PORT MOBILE PASSWORD FILE_MB DIR\n");
        return 2;
    }
    hosts::SetAllServiceHosts(argv[1]);
    const bool tls = std::strncmp(argv[1], "https://", 8) == 0;
    if (const char* ca = std::getenv("QUMO_BENCH_CA"))
        net::SetExtraCaFile(ca);
    const int mb = std::atoi(argv[4]);
    const std::string dir = argv[5];
    const std::string file = dir + "/bench.mp4";
    const double megabytes = mb * 1048576.0 / 1e6;

    LoginAnswer login = ApiLogin(platform::FromNarrow(argv[2]), platform::FromNarrow(argv[3]));
    if (login.outcome != ApiOutcome::Ok) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    GetAppSettings().SetUserInfo(login.uid.c_str(), login.token.c_str(), login.nick.c_str(),
                                 login.headface.c_str(), static_cast<int>(login.usedSpace),
                                 static_cast<int>(login.totalSpace));
    std::string listPath = dir + "/QumolanUploadList.xml";
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(listPath);

    if (!MakeFile(file, mb)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    const long idleKb = RssKb();
    const uint64_t nonce = static_cast<uint64_t>(Clock::now().time_since_epoch().count());
    const int rounds =
        std::getenv("QUMO_BENCH_ROUNDS") ? std::atoi(std::getenv("QUMO_BENCH_ROUNDS")) : 2;

    // 1. The transfer alone: PostFileData against curl -T, each on a fresh session,
    // interleaved over `rounds` rounds; the best of each counts (the service's disk is
    // shared with everything else on the machine).
    UpInfo t;
    t.m_strFilePath = platform::FromNarrow(file);
    CopyToFixed(t.m_tcExt, u"mp4");
    t.m_nFileLen = static_cast<int64_t>(mb) << 20;
    std::string server, reply;
    double postS = 1e9, curlS = 1e9;
    uint64_t stamp = nonce;
    for (int round = 0; round < rounds; ++round) {
        Stamp(file, ++stamp);
        t.m_strFileName = u"bench-post-" + platform::FromNarrow(std::to_string(round)) + u".mp4";
        std::string path = OpenSession(t, Sha1Of(file), server);
        if (path.empty()) {
            std::fprintf(stderr, "allinone failed\n");
            return 1;
        }
        auto t0 = Clock::now();
        reply = PostFileData(path.c_str(), t, file.c_str(), 0);
        postS = std::min(postS, Seconds(t0));
        if (reply == "0")
            std::fprintf(stderr, "PostFileData failed\n");

        Stamp(file, ++stamp);
        UpInfo c = t;
        c.m_strFileName = u"bench-curl-" + platform::FromNarrow(std::to_string(round)) + u".mp4";
        std::string curlPath = OpenSession(c, Sha1Of(file), server);
        curlS = std::min(curlS, CurlSeconds(file, server + curlPath));
    }

    if (tls) {
        // The same OpenSSL on both sides, so the goal is most of curl's figure.
        std::printf("file: %d MiB\n", mb);
        std::printf("tls       PostFileData   %8.1f MB/s  (%.2f s)\n", megabytes / postS, postS);
        std::printf("tls       curl -T        %8.1f MB/s  (%.2f s)\n", megabytes / curlS, curlS);
        std::printf("tls       ratio ours/curl %7.2f  (goal >= 0.80)\n", curlS / postS);
        return 0;
    }

    // 2. The whole exchange: UploadOneFile (digest included) against openssl + curl.
    Stamp(file, ++stamp);
    UpInfo w;
    w.m_strFilePath = t.m_strFilePath;
    w.m_strFileName = u"bench-whole.mp4";
    CopyToFixed(w.m_tcExt, u"mp4");
    w.m_nFileLen = t.m_nFileLen;
    w.m_nNetDirId = 0;
    auto t0 = Clock::now();
    int r = UploadOneFile(w);
    double wholeS = Seconds(t0);
    if (r != kUploadDone)
        std::fprintf(stderr, "UploadOneFile returned %d\n", r);

    Stamp(file, ++stamp);
    UpInfo p = t;
    p.m_strFileName = u"bench-pair.mp4";
    t0 = Clock::now();
    std::string sha = Sha1Of(file);
    double digestS = Seconds(t0);
    std::string pairPath = OpenSession(p, sha, server);
    double pairS = digestS + CurlSeconds(file, server + pairPath);
    // UploadOneFile also waits for the confirmation, in which the service digests what it
    // stored; the pair gets the same step for a like-for-like figure.
    std::string over = server + pairPath;
    over.replace(over.find("/v2/upload.json"), 15, "/v2/uploadover.json");
    over += "&pname=&sha1=" + sha + "&size=" + std::to_string(p.m_nFileLen);
    t0 = Clock::now();
    std::string overBody;
    bool confirmed = HttpModuleGet(over.c_str(), overBody);
    double confirmS = Seconds(t0);
    if (!confirmed)
        std::fprintf(stderr, "uploadover of the curl upload failed\n");

    // Our digest alone, for the split of the whole exchange.
    t0 = Clock::now();
    CFileSha1 ours;
    bool digested = !ours.GetFileSha1(file.c_str()).empty();
    double ourDigestS = Seconds(t0);
    if (!digested)
        std::fprintf(stderr, "CFileSha1 failed\n");

    const long peakKb = PeakRssKb();
    std::printf("file: %d MiB\n", mb);
    std::printf("transfer  PostFileData   %8.1f MB/s  (%.2f s)\n", megabytes / postS, postS);
    std::printf("transfer  curl -T        %8.1f MB/s  (%.2f s)\n", megabytes / curlS, curlS);
    std::printf("transfer  ratio ours/curl %7.2f\n", curlS / postS);
    std::printf("whole     UploadOneFile  %8.1f MB/s  (%.2f s)\n", megabytes / wholeS, wholeS);
    std::printf("whole     openssl + curl %8.1f MB/s  (%.2f s, digest %.2f s)\n", megabytes / pairS,
                pairS, digestS);
    std::printf("whole     ratio ours/pair %7.2f\n", pairS / wholeS);
    std::printf("whole     openssl + curl + uploadover %8.1f MB/s  (%.2f s, confirmation %.2f s)\n",
                megabytes / (pairS + confirmS), pairS + confirmS, confirmS);
    std::printf("whole     ratio ours/(pair + confirmation) %7.2f\n", (pairS + confirmS) / wholeS);
    std::printf("digest    CFileSha1 %.2f s (%.1f MB/s), openssl %.2f s (%.1f MB/s)\n", ourDigestS,
                megabytes / ourDigestS, digestS, megabytes / digestS);
    std::printf("memory    idle %ld KB, peak %ld KB, above idle %ld KB\n", idleKb, peakKb,
                peakKb - idleKb);
    std::remove(file.c_str());
    return r == kUploadDone && reply != "0" ? 0 : 1;
}
