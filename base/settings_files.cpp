#include "base/settings_files.h"

#include "base/ini_file.h"
#include "platform/codepage.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void PutInt32(std::string& out, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((u >> (8 * i)) & 0xFF);
}

// Creates or truncates the file and writes `bytes`; failures are ignored by design.
void WriteWholeFile(const std::u16string& path, const std::string& bytes) {
    FILE* f = std::fopen(platform::ToNarrow(path).c_str(), "wb");
    if (!f)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string EnvBytes(const SettingsOptions& o) {
    std::string b;
    PutInt32(b, o.threadNum);
    PutInt32(b, o.startbyroot);
    PutInt32(b, o.autoUpdate);
    PutInt32(b, o.shellmenu);
    PutInt32(b, 0); // options text: always empty
    PutInt32(b, 0); // keyed records: none
    return b;
}

// An empty folder record: two ids of -1, three empty texts, no file records.
std::string DirBytes() {
    std::string b;
    PutInt32(b, -1);
    PutInt32(b, -1);
    for (int i = 0; i < 3; ++i)
        PutInt32(b, 0);
    PutInt32(b, 0);
    return b;
}

} // namespace

bool IsPlainFileName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..")
        return false;
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || c == 0)
            return false;
    }
    return true;
}

void SaveSettingsFiles(const std::u16string& programFolder, const SettingsOptions& options,
                       const char* uid) {
    WriteWholeFile(programFolder + u"qumo.env", EnvBytes(options));

    CIniFile conf(platform::ToNarrow(programFolder + u"qumo.conf"), "common");
    (void)(conf.WriteInt("threadNum", options.threadNum) &&
           conf.WriteInt("autoUpdate", options.autoUpdate) &&
           conf.WriteInt("startbyroot", options.startbyroot) &&
           conf.WriteInt("shellmenu", options.shellmenu));

    if (!uid || !*uid)
        return;
    const std::u16string user = platform::FromNarrow(uid);
    // The id comes from the service; it names a file in the program folder and nothing else.
    if (!IsPlainFileName(user))
        return;
    WriteWholeFile(programFolder + user + u".usi", std::string(4, '\0')); // no records

    const std::u16string dir = programFolder + user + u".dir";
    const std::string dirNarrow = platform::ToNarrow(dir);
    struct stat st {};
    if (lstat(dirNarrow.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        unlink(dirNarrow.c_str());
    WriteWholeFile(dir, DirBytes());
}
