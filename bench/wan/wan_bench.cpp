// The upload engine on a slow or capped link: fresh files through the real worker to a fresh
// local qumo-service whose every exchange (API and upload listener) answers after a delay.
// Each case runs with one transfer at a time and with several, in the same run, and prints
// files per second, MB per second and the ratio against one at a time.
//
//   wan_bench WORK_DIR [quick]        (QUMO_SERVICE_BIN names qumo-service)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "bench/bench_util.h"
#include "bench/engine_util.h"
#include "platform/codepage.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_session.h"
#include "upload/upload_thread.h"
#include "upload/upload_view.h"

namespace {

using bench::Clock;

struct Case {
    const char* what;
    int files;
    int64_t size;
    int delayMs;
    int capKBps;
    int transfers;
};

struct Result {
    double seconds = 0;
    double filesPerS = 0;
    double mbPerS = 0;
};

// `count` files of `size` fresh bytes in one folder.
std::vector<UpInfo> MakeFiles(const std::string& dir, int count, int64_t size,
                              std::mt19937_64& rng) {
    ::mkdir(dir.c_str(), 0755);
    std::vector<UpInfo> tasks;
    std::vector<uint64_t> block(8192);
    for (int i = 0; i < count; ++i) {
        const std::string name = "VID_" + std::to_string(i) + ".mp4";
        const std::string path = dir + "/" + name;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (int64_t left = size; fd >= 0 && left > 0;) {
            for (auto& w : block)
                w = rng();
            const std::size_t n = static_cast<std::size_t>(
                std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8)));
            if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
                ::close(fd);
                fd = -1;
            }
            left -= static_cast<int64_t>(n);
        }
        if (fd < 0) {
            std::printf("error: cannot write %s\n", path.c_str());
            std::exit(1);
        }
        ::close(fd);
        UpInfo t;
        t.m_strFilePath = platform::FromNarrow(path);
        t.m_strFilePath2 = t.m_strFilePath;
        t.m_strFileName = platform::FromNarrow(name);
        CopyToFixed(t.m_tcExt, u"mp4");
        t.m_nFileLen = size;
        t.m_nNetDirId = 0;
        t.m_strNetDirPath = u"我的酷摩岚";
        t.m_bListed = 1;
        tasks.push_back(std::move(t));
    }
    return tasks;
}

bool RunCase(const std::string& work, const Case& c, int index, std::mt19937_64& rng, Result& out) {
    const std::string dir = work + "/case" + std::to_string(index);
    std::vector<UpInfo> tasks = MakeFiles(dir, c.files, c.size, rng);
    ServiceSession service;
    if (!service.Start({"--delay-ms", std::to_string(c.delayMs)}) || !service.Login())
        return false;
    service.Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                  "&mb=1000000");
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(dir + "/QumolanUploadList.xml");
    prefs::UserPrefs p;
    p.transfers = c.transfers;
    p.capKBps = c.capKBps;
    prefs::Apply(p);

    bench::QuietView view;
    UploadSession session(view, UploadSession::Options{.keepFinished = false});
    for (UpInfo& t : tasks)
        t.m_nStatus = 5;
    if (!session.Add(tasks, true))
        return false;
    const Clock::time_point t0 = Clock::now();
    session.ResumeAll();
    if (!bench::RunWorkerToEnd(session))
        return false;
    out.seconds = bench::Seconds(t0);
    out.filesPerS = c.files / out.seconds;
    out.mbPerS = static_cast<double>(c.files) * static_cast<double>(c.size) / 1e6 / out.seconds;
    if (session.Pending() != 0) {
        std::printf("error: %d tasks left\n", session.Pending());
        return false;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wan_bench WORK_DIR [quick]\n");
        return 2;
    }
    const bool quick = argc > 2 && std::string(argv[2]) == "quick";
    const int several = prefs::UserPrefs{}.transfers;
    const int manyFiles = quick ? 200 : 1000, bigFiles = quick ? 6 : 20,
              smallFiles = quick ? 2000 : 10000;
    // Pairs: one at a time first, then the default number of transfers.
    const std::vector<Case> cases = {
        {"100 KB, 20 ms delay", manyFiles, 100 * 1000, 20, 0, 1},
        {"100 KB, 20 ms delay", manyFiles, 100 * 1000, 20, 0, several},
        {"50 MB, no cap", bigFiles, 50 * 1000 * 1000, 0, 0, 1},
        {"50 MB, no cap", bigFiles, 50 * 1000 * 1000, 0, 0, several},
        {"50 MB, cap 20 MB/s", bigFiles, 50 * 1000 * 1000, 0, 20 * 1000, several},
        {"2 KB, no delay", smallFiles, 2048, 0, 0, 1},
        {"2 KB, no delay", smallFiles, 2048, 0, 0, several},
    };
    std::mt19937_64 rng(static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
    std::vector<Result> results;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Result r;
        if (!RunCase(argv[1], c, static_cast<int>(i), rng, r)) {
            std::printf("error: case %zu (%s) failed\n", i, c.what);
            return 1;
        }
        results.push_back(r);
        std::printf("%-22s %6d files, %d at once: %7.1f s  %8.1f files/s  %7.1f MB/s\n", c.what,
                    c.files, c.transfers, r.seconds, r.filesPerS, r.mbPerS);
        std::fflush(stdout);
    }
    std::printf(
        "\n100 KB files, 20 ms round trips: %d at once / one at a time = %.2f x (goal >= 4)\n",
        several, results[1].filesPerS / results[0].filesPerS);
    std::printf(
        "50 MB files, cap 20 MB/s: measured %.1f MB/s = %.2f of the cap (goal 0.90 - 1.10)\n",
        results[4].mbPerS, results[4].mbPerS / 20.0);
    std::printf("50 MB files, no cap: %d at once / one at a time = %.2f x (goal >= 1)\n", several,
                results[3].mbPerS / results[2].mbPerS);
    std::printf("2 KB files, no delay: %d at once / one at a time = %.2f x (goal >= 1)\n", several,
                results[6].filesPerS / results[5].filesPerS);
    return 0;
}
