// Small helpers every benchmark program shares: elapsed time and resident memory.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

using Clock = std::chrono::steady_clock;

// Seconds since `t0` on the steady clock.
inline double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The process's resident memory now, in KiB (0 when /proc cannot tell).
inline long RssKb() {
    FILE* f = std::fopen("/proc/self/status", "r");
    long kb = 0;
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::atol(line + 6);
    if (f != nullptr)
        std::fclose(f);
    return kb;
}

} // namespace bench
