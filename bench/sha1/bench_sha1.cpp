// bench_sha1 FILE          hashes FILE with CFileSha1 and prints "<digest> <seconds>".
// bench_sha1 --ahead FILE  the same with the file read ahead on a second thread, to show
//                          what that would gain (it is off in the program).
// bench_sha1 --block N FILE the same with reads of N bytes (10240 was the old size).
// bench_sha1 blocks        prints the in-memory speed of each SHA-1 block function.
#include "base/file_sha1.h"
#include "base/file_sha1_reader.h"
#include "base/sha1_blocks.h"
#include "bench/bench_util.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using bench::Seconds;

// This thread's processor time: on a shared machine it is steadier than the clock.
double CpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void BlockSpeed(const char* name, void (*blocks)(uint32_t*, const uint8_t*, size_t)) {
    std::vector<uint8_t> data(1 << 20, 0x5a);
    uint32_t state[5] = {1, 2, 3, 4, 5};
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        double t0 = CpuSeconds();
        for (int i = 0; i < 256; ++i)
            blocks(state, data.data(), data.size() / 64);
        best = std::min(best, CpuSeconds() - t0);
    }
    std::printf("%-9s %8.0f MB/s processor time (state %08x)\n", name,
                256.0 * data.size() / best / 1e6, state[0]);
}

} // namespace

int main(int argc, char** argv) {
    filesha1::TestHooks hooks;
    if (argc == 3 && std::strcmp(argv[1], "--ahead") == 0) {
        hooks.readAheadAbove = 0;
        ++argv;
        --argc;
    } else if (argc == 4 && std::strcmp(argv[1], "--block") == 0) {
        hooks.blockSize = std::strtoul(argv[2], nullptr, 10);
        argv += 2;
        argc -= 2;
    }
    filesha1::SetTestHooks(hooks);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_sha1 [--ahead | --block N] FILE | bench_sha1 blocks\n");
        return 2;
    }
    if (std::strcmp(argv[1], "blocks") == 0) {
        BlockSpeed("portable", &Sha1BlocksPortable);
        if (Sha1ShaNiAvailable())
            BlockSpeed("sha-ni", &Sha1BlocksShaNi);
        return 0;
    }
    CFileSha1 sha;
    auto t0 = std::chrono::steady_clock::now();
    std::u16string digest = sha.GetFileSha1(argv[1]);
    double s = Seconds(t0);
    if (digest.empty()) {
        std::fprintf(stderr, "failed: %s\n", sha.ErrorText().c_str());
        return 1;
    }
    std::printf("%s %.6f\n", std::string(digest.begin(), digest.end()).c_str(), s);
    return 0;
}
