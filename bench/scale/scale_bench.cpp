// Whole photo libraries through the headless upload engine: for each count, that many
// fresh 2 KB files in folders of 100 are queued (list file written once, as a folder upload
// does) and uploaded by the real worker to a fresh local qumo-service. Prints the time to
// queue, files per second, milliseconds per file, memory per queued task, and the flat-cost
// ratio (files per second at the largest count against the smallest).
//
//   scale_bench WORK_DIR COUNT...        (QUMO_SERVICE_BIN names qumo-service)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/global_var.h"
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
using bench::RssKb;
using bench::Seconds;

// `count` files of 2 KB of fresh bytes, 100 to a folder.
std::vector<UpInfo> MakeLibrary(const std::string& dir, int count, std::mt19937_64& rng) {
    std::vector<UpInfo> tasks;
    tasks.reserve(static_cast<std::size_t>(count));
    std::vector<uint64_t> block(256);
    for (int i = 0; i < count; ++i) {
        const std::string folder = dir + "/album" + std::to_string(i / 100);
        if (i % 100 == 0)
            ::mkdir(folder.c_str(), 0755);
        const std::string path = folder + "/IMG_" + std::to_string(i) + ".jpg";
        for (auto& w : block)
            w = rng();
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, block.data(), 2048) != 2048) {
            std::printf("error: cannot write %s\n", path.c_str());
            std::exit(1);
        }
        ::close(fd);
        UpInfo t;
        t.m_strFilePath = platform::FromNarrow(path);
        t.m_strFilePath2 = t.m_strFilePath;
        t.m_strFileName = platform::FromNarrow("IMG_" + std::to_string(i) + ".jpg");
        CopyToFixed(t.m_tcExt, u"jpg");
        t.m_nFileLen = 2048;
        t.m_nNetDirId = 0;
        t.m_strNetDirPath = u"我的酷摩岚";
        t.m_bListed = 1;
        tasks.push_back(std::move(t));
    }
    return tasks;
}

struct Figure {
    int count = 0;
    double queueS = 0, uploadS = 0, perTaskKb = 0;
};

bool RunOne(const std::string& work, int count, std::mt19937_64& rng, Figure& out) {
    const std::string dir = work + "/lib" + std::to_string(count);
    ::mkdir(dir.c_str(), 0755);
    const long idleKb = RssKb();
    std::vector<UpInfo> tasks = MakeLibrary(dir, count, rng);

    ServiceSession service;
    if (!service.Start() || !service.Login())
        return false;
    service.Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                  "&mb=1000000");
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(dir + "/QumolanUploadList.xml");

    bench::QuietView view;
    UploadSession session(view, UploadSession::Options{.keepFinished = false});
    const Clock::time_point q0 = Clock::now();
    // Queued paused, as a folder upload queues them, so the memory of the queued tasks is
    // measured before the worker moves; then every task is resumed at once.
    for (UpInfo& t : tasks)
        t.m_nStatus = 5;
    if (!session.Add(std::move(tasks), true))
        return false;
    out.queueS = Seconds(q0);
    tasks.clear();
    tasks.shrink_to_fit();
    // The scan's own records are gone by now, as after a folder upload.
    out.perTaskKb = static_cast<double>(RssKb() - idleKb) / count;

    const Clock::time_point u0 = Clock::now();
    session.ResumeAll();
    if (!bench::RunWorkerToEnd(session))
        return false;
    out.uploadS = Seconds(u0);
    out.count = count;
    const int left = session.Pending();
    if (left != 0) {
        std::printf("error: %d tasks left\n", left);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: scale_bench WORK_DIR COUNT...\n");
        return 2;
    }
    std::mt19937_64 rng(static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
    std::vector<Figure> figures;
    for (int i = 2; i < argc; ++i) {
        Figure f;
        if (!RunOne(argv[1], std::atoi(argv[i]), rng, f)) {
            std::printf("error: the run of %s files failed\n", argv[i]);
            return 1;
        }
        figures.push_back(f);
        std::printf("%7d files: queued in %.2f s, uploaded in %.1f s = %.0f files/s, %.2f ms per "
                    "file; %.2f KB per queued task\n",
                    f.count, f.queueS, f.uploadS, f.count / f.uploadS, 1000 * f.uploadS / f.count,
                    f.perTaskKb);
        std::fflush(stdout);
    }
    const Figure& small = figures.front();
    const Figure& large = figures.back();
    const double ratio = (large.count / large.uploadS) / (small.count / small.uploadS);
    std::printf("flat cost: files/s at %d over files/s at %d = %.2f (goal >= 0.80)\n", large.count,
                small.count, ratio);
    const double total = 100000 * large.uploadS / large.count;
    const char* how = large.count == 100000 ? "measured" : "projected from the largest run";
    std::printf("100,000 files through the engine and qumo-service, %s: %.0f s (goal <= 300 s; "
                "ratio goal/figure %.2f)\n",
                how, total, 300 / total);
    const double mb = large.perTaskKb * 100000 / 1024;
    std::printf("memory of 100,000 queued tasks, %s: %.0f MB above idle (goal <= 100 MB; ratio "
                "goal/figure %.2f)\n",
                how, mb, 100 / mb);
    return 0;
}
