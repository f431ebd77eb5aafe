#include "app/user_prefs.h"

#include <charconv>
#include <fstream>
#include <mutex>

#include "base/log.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/paths.h"

namespace prefs {
namespace {

// A hand-edited file of four keys; anything larger is not ours.
constexpr std::size_t kMaxPrefsBytes = 64 * 1024;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ReadInt(std::string_view v, int lo, int hi, int& out) {
    int n = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || end != v.data() + v.size() || n < lo || n > hi)
        return false;
    out = n;
    return true;
}

bool ReadBool(std::string_view v, bool& out) {
    if (v == "1" || v == "true" || v == "on" || v == "yes")
        out = true;
    else if (v == "0" || v == "false" || v == "off" || v == "no")
        out = false;
    else
        return false;
    return true;
}

std::mutex g_lock;
UserPrefs g_current;

} // namespace

void ParsePrefsText(std::string_view text, UserPrefs& out, std::string& warnings) {
    int lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = Trim(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++lineNo;
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        const std::size_t eq = line.find('=');
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : Trim(line.substr(eq + 1));
        bool ok = eq != std::string_view::npos;
        if (!ok) {
        } else if (key == "transfers") {
            ok = ReadInt(value, kMinTransfers, kMaxTransfers, out.transfers);
        } else if (key == "bandwidth_cap_kbps") {
            ok = ReadInt(value, 0, kMaxCapKBps, out.capKBps);
        } else if (key == "tray_while_uploading") {
            ok = ReadBool(value, out.trayWhileUploading);
        } else if (key == "notify_when_done") {
            ok = ReadBool(value, out.notifyWhenDone);
        } else {
            warnings += "line " + std::to_string(lineNo) + ": unknown key skipped\n";
            continue;
        }
        if (!ok)
            warnings += "line " + std::to_string(lineNo) + ": bad value, kept " +
                        std::string(key.substr(0, 40)) + "\n";
    }
}

std::string PrefsText(const UserPrefs& p) {
    return "# QumoClient preferences\n"
           "transfers = " +
           std::to_string(p.transfers) + "\nbandwidth_cap_kbps = " + std::to_string(p.capKBps) +
           "\ntray_while_uploading = " + (p.trayWhileUploading ? "1" : "0") +
           "\nnotify_when_done = " + (p.notifyWhenDone ? "1" : "0") + "\n";
}

UserPrefs LoadPrefs(const std::u16string& path) {
    UserPrefs p;
    if (path.empty())
        return p;
    std::ifstream in(platform::ToNarrow(path), std::ios::binary);
    if (!in)
        return p;
    std::string text(kMaxPrefsBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxPrefsBytes) {
        LogError(u"The preferences file %s is too large; it is ignored", path.c_str());
        return p;
    }
    std::string warnings;
    ParsePrefsText(text, p, warnings);
    if (!warnings.empty())
        LogError(u"The preferences file %s: %s", path.c_str(),
                 platform::FromNarrow(warnings).c_str());
    return p;
}

bool SavePrefs(const std::u16string& path, const UserPrefs& p) {
    const std::string text = PrefsText(p);
    if (path.empty() || !platform::WriteFileAtomic(path, text.data(), text.size())) {
        LogError(u"The preferences file %s could not be written", path.c_str());
        return false;
    }
    return true;
}

std::u16string PrefsPath() {
    const std::u16string exe = platform::ModuleFileName();
    const std::size_t cut = exe.rfind(u'/');
    return cut == std::u16string::npos ? std::u16string()
                                       : exe.substr(0, cut) + u"/qumoclient-prefs.conf";
}

UserPrefs Current() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_current;
}

void Apply(const UserPrefs& p) {
    std::lock_guard<std::mutex> g(g_lock);
    g_current = p;
}

} // namespace prefs
