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

std::u16string Attr(const XmlNode* node, const char16_t* name) {
    const XmlAttribute* a = node->FindAttr(name);
    return a != nullptr ? a->value : std::u16string();
}

std::u16string Trimmed(const XmlNode* node, const char16_t* name) {
    return Trim16(Attr(node, name));
}

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
    const std::u16string path = CGlobalVar::m_strUploadListPath;
    platform::FileAttributes fa;
    if (path.empty() || !platform::GetFileAttributesEx(path, fa))
        return false;
    XmlNode root;
    if (!LoadFile(path, root)) {
        SetAsideUnreadableUploadList();
        return false;
    }
    const XmlNode* group = nullptr;
    for (std::size_t i = 0; i < root.ChildCount() && group == nullptr; ++i)
        if (SameListKey(Attr(root.GetChild(i), u"UserName"), CGlobalVar::m_strUid))
            group = root.GetChild(i);
    if (group == nullptr)
        return true;
    for (std::size_t i = 0; i < group->ChildCount(); ++i) {
        const XmlNode* e = group->GetChild(i);
        if (e->kind != XmlNodeKind::Element)
            continue;
        UpInfo t;
        t.m_strFileName = Trimmed(e, u"FileName");
        t.m_strFilePath = Trimmed(e, u"FileAllPath");
        t.m_strFilePath2 = t.m_strFilePath;
        std::u16string ext = Trimmed(e, u"FileExt");
        CopyToFixed(t.m_tcExt, ext.empty() ? ExtOf(t.m_strFilePath) : ext);
        std::u16string size = Trimmed(e, u"FileSize");
        if (size.empty()) {
            platform::FileAttributes f;
            if (platform::GetFileAttributesEx(t.m_strFilePath, f))
                t.m_nFileLen = static_cast<int64_t>(f.size);
        } else {
            t.m_nFileLen = ParseLength(size);
        }
        std::u16string dir = Trimmed(e, u"NetDirId");
        t.m_nNetDirId = dir.empty() ? 0 : api_json::AtoiText(platform::ToNarrow(dir));
        t.m_strNetDirPath = Trimmed(e, u"NetDirPath");
        if (Trimmed(e, u"UploadStatus") == u"1") {
            CopyToFixed(t.m_tsUpID, Attr(e, u"UploadId"));
            CopyToFixed(t.m_tcVid, Attr(e, u"UploadMid"));
            CopyToFixed(t.m_tcUploadIp, Attr(e, u"UploadIp"));
            std::u16string port = Attr(e, u"UploadPort");
            if (!port.empty()) // without one the default port stays
                t.m_nUploadPort = api_json::AtoiText(platform::ToNarrow(port));
        }
        out.push_back(t);
    }
    return true;
}
