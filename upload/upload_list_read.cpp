// Reading the upload list file back into task records.
#include <cstdint>
#include <cwctype>
#include <mutex>

#include "app/global_var.h"
#include "base/xml.h"
#include "net/api_answer.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "upload/upload_list_file.h"

namespace {

// A 64-bit decimal; anything after the digits is ignored, a bad text reads 0.
int64_t ParseLength(const std::u16string& s) {
    uint64_t v = 0;
    std::size_t i = 0;
    while (i < s.size() && std::iswspace(static_cast<wint_t>(s[i])))
        ++i;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        if (v > (static_cast<uint64_t>(INT64_MAX) - 9) / 10)
            return INT64_MAX;
        v = v * 10 + static_cast<uint64_t>(s[i] - u'0');
    }
    return static_cast<int64_t>(v);
}

std::u16string ExtOf(const std::u16string& path) {
    std::size_t dot = path.rfind(u'.');
    std::u16string ext = dot == std::u16string::npos ? path : path.substr(dot + 1);
    for (char16_t& c : ext)
        if (c < 0x80)
            c = static_cast<char16_t>(std::towlower(c));
    return ext;
}

} // namespace

bool ReadUploadTaskList(std::vector<UpInfo>& out) {
    out.clear();
    enum { kName, kPath, kExt, kSize, kDirId, kDirPath, kStatus, kId, kMid, kIp, kPort };
    // One task at a time: a copy of every value of a long list at once would be several
    // times the size of the records made of it.
    const bool read = VisitListTasks([&](ListedTask& e) {
        // Every value but the service's upload values is read trimmed.
        for (int k : {kName, kPath, kExt, kSize, kDirId, kDirPath, kStatus})
            e.values[k] = Trim16(e.values[k]);
        UpInfo t;
        t.m_strFileName = e.values[kName];
        t.m_strFilePath = e.values[kPath];
        t.m_strFilePath2 = t.m_strFilePath;
        const std::u16string& ext = e.values[kExt];
        CopyToFixed(t.m_tcExt, ext.empty() ? ExtOf(t.m_strFilePath) : ext);
        const std::u16string& size = e.values[kSize];
        if (size.empty()) {
            platform::FileAttributes f;
            if (platform::GetFileAttributesEx(t.m_strFilePath, f))
                t.m_nFileLen = static_cast<int64_t>(f.size);
        } else {
            t.m_nFileLen = ParseLength(size);
        }
        const std::u16string& dir = e.values[kDirId];
        t.m_nNetDirId = dir.empty() ? 0 : api_json::AtoiText(platform::ToNarrow(dir));
        t.m_strNetDirPath = e.values[kDirPath];
        if (e.values[kStatus] == u"1") {
            CopyToFixed(t.m_tsUpID, e.values[kId]);
            CopyToFixed(t.m_tcVid, e.values[kMid]);
            CopyToFixed(t.m_tcUploadIp, e.values[kIp]);
            if (!e.values[kPort].empty()) // without one the default port stays
                t.m_nUploadPort = api_json::AtoiText(platform::ToNarrow(e.values[kPort]));
        }
        out.push_back(std::move(t));
    });
    if (!read)
        out.clear();
    return read;
}
