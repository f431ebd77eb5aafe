#include "app/app_settings.h"

#include "app/global_var.h"
#include "base/text.h"
#include "platform/paths.h"

#include <cstring>

namespace {

// Copies at most cap - 1 bytes and always terminates: the callers promise short enough
// values, but the field must hold whatever arrives.
void CopyBounded(char* dst, std::size_t cap, const char* src) {
    std::size_t n = src ? strnlen(src, cap - 1) : 0;
    if (n)
        std::memcpy(dst, src, n);
    dst[n] = '\0';
}

} // namespace

CAppSettings::CAppSettings() = default;

CAppSettings::~CAppSettings() {
    std::u16string folder = ExitFilesFolder();
    if (folder.empty())
        return; // without a known program folder the files would land in some other place
    SaveSettingsFiles(folder, m_options, m_szUid);
}

void CAppSettings::SetUserInfo(const char* uid, const char* token, const char* nick,
                               const char* headface, int used, int total) {
    CopyBounded(m_szUid, kUidCap, uid);
    CopyBounded(m_szToken, kTokenCap, token);
    CopyBounded(m_szNick, kNickCap, nick);
    CopyBounded(m_szHeadface, kHeadfaceCap, headface);

    m_strNick = DecodeAnswerText(m_szNick);
    CGlobalVar::m_strNick = m_strNick;
    CGlobalVar::m_strUid = DecodeAnswerText(m_szUid);
    CGlobalVar::m_strToken = DecodeAnswerText(m_szToken);
    CGlobalVar::m_strHeadface = DecodeAnswerText(m_szHeadface);
    CGlobalVar::m_strUidA = m_szUid;
    CGlobalVar::m_strTokenA = m_szToken;

    m_nUsedSpace = used;
    m_nTotalSpace = total;
    CGlobalVar::m_nUsedSpace = used;
    CGlobalVar::m_nTotalSpace = total;
}

CAppSettings& GetAppSettings() {
    // Made at the first call and destroyed at process end, after main returns.
    static CAppSettings settings;
    return settings;
}

std::u16string ExitFilesFolder() {
    std::u16string name = platform::ModuleFileName();
    auto pos = name.rfind(platform::kPathSep);
    if (pos == std::u16string::npos)
        return {};
    return name.substr(0, pos + 1);
}
