#include "platform/paths.h"

#include "platform/codepage.h"

#include <limits.h>
#include <mutex>
#include <unistd.h>

namespace platform {

namespace {
std::mutex g_mu;
std::u16string g_override;
} // namespace

std::u16string ModuleFileName() {
    {
        std::lock_guard<std::mutex> lk(g_mu);
        if (!g_override.empty())
            return g_override;
    }
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return {};
    return FromNarrow(std::string_view(buf, static_cast<std::size_t>(n)));
}

void OverrideModuleFileName(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(g_mu);
    g_override = path;
}

std::u16string ModuleFolder() {
    std::u16string p = ModuleFileName();
    auto pos = p.rfind(kPathSep);
    if (pos == std::u16string::npos)
        return {};
    return p.substr(0, pos);
}

} // namespace platform
