// bench_scan gen DIR          makes 100 folders of 100 files each (kept if present)
// bench_scan time DIR REPS    runs FindDirAndFiles over DIR REPS times; prints the best
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/local_scan.h"

namespace fs = std::filesystem;

namespace {

const char* const kExts[] = {".jpg", ".png", ".mp4", ".JPG", ".mov", ".txt", ".gif", ".mkv"};

int Generate(const fs::path& dir) {
    for (int d = 0; d < 100; ++d) {
        fs::path folder = dir / ("album" + std::to_string(100 + d));
        fs::create_directories(folder);
        for (int f = 0; f < 100; ++f) {
            fs::path file = folder / ("IMG_" + std::to_string(10000 + f) + kExts[(d + f) % 8]);
            if (!fs::exists(file))
                std::ofstream(file, std::ios::binary)
                    << std::string(static_cast<std::size_t>(f), 'x');
        }
    }
    return 0;
}

int Time(const fs::path& dir, int reps) {
    double best = 1e9;
    std::size_t found = 0;
    for (int r = 0; r < reps; ++r) {
        std::vector<UpInfo> tasks;
        auto t0 = std::chrono::steady_clock::now();
        int ok = FindDirAndFiles(dir.u16string().c_str(), tasks, 1);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!ok)
            return 1;
        best = std::min(best, s);
        found = tasks.size();
    }
    std::printf("%zu %.5f\n", found, best);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "gen") == 0)
        return Generate(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "time") == 0)
        return Time(argv[2], std::max(1, std::atoi(argv[3])));
    std::fprintf(stderr, "usage: bench_scan gen DIR | time DIR REPS\n");
    return 2;
}
