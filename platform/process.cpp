#include "platform/process.h"

#include "platform/codepage.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <limits.h>
#include <string_view>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

namespace {

// The kernel keeps at most 15 bytes of the command name.
constexpr std::size_t kCommMax = 15;

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool AllDigits(const char* s) {
    if (*s == '\0')
        return false;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9')
            return false;
    }
    return true;
}

// The file name of the process's executable; empty when it cannot be read.
std::string ExeName(const std::string& dir) {
    char buf[PATH_MAX];
    errno = 0;
    ssize_t n = readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    std::string_view target(buf, static_cast<std::size_t>(n));
    // A replaced or removed executable still names the file the process was started from.
    constexpr std::string_view kDeleted = " (deleted)";
    if (target.size() > kDeleted.size() && target.ends_with(kDeleted))
        target.remove_suffix(kDeleted.size());
    auto slash = target.rfind('/');
    if (slash != std::string_view::npos)
        target.remove_prefix(slash + 1);
    return std::string(target);
}

std::string CommName(const std::string& dir) {
    FILE* f = std::fopen((dir + "/comm").c_str(), "rb");
    if (!f)
        return {};
    char buf[64] = {};
    std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    std::string s(buf, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\0'))
        s.pop_back();
    return s;
}

} // namespace

int CountProcessesNamed(std::u16string name) {
    const std::string wanted = ToNarrow(name);
    DIR* d = opendir("/proc");
    if (!d)
        return -1;
    int count = 0;
    while (dirent* e = readdir(d)) {
        if (!AllDigits(e->d_name))
            continue;
        const std::string dir = std::string("/proc/") + e->d_name;
        std::string exe = ExeName(dir);
        if (!exe.empty()) {
            if (EqualNoCase(exe, wanted))
                ++count;
            continue;
        }
        // Another user's process hides its executable; its command name is the executable's
        // file name cut to 15 bytes, so it only decides for names short enough to survive
        // that cut. Zombies and kernel threads have no executable at all and do not count.
        if (errno == EACCES && wanted.size() <= kCommMax && EqualNoCase(CommName(dir), wanted))
            ++count;
    }
    closedir(d);
    return count;
}

void ReleaseFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

} // namespace platform
