#include "net/api_url.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/md5.h"
#include "base/text.h"
#include "net/hosts.h"
#include "platform/codepage.h"

namespace api_url {
namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// snprintf that refuses instead of cutting.
bool Format(char* dst, std::size_t cap, const char* fmt, ...) {
    if (dst == nullptr || cap == 0)
        return false;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(dst, cap, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<std::size_t>(n) >= cap) {
        dst[0] = 0;
        return false;
    }
    return true;
}

// A UTF-16 URL converted as a whole to the narrow code page into `cap` bytes.
bool Narrow(const std::u16string& url, char* dst, std::size_t cap) {
    if (dst == nullptr || cap == 0)
        return false;
    dst[0] = 0;
    if (platform::WideToNarrow(url.c_str(), dst, static_cast<int>(cap)) == 0) {
        dst[0] = 0;
        return false;
    }
    return true;
}

} // namespace

std::u16string Trim(std::u16string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    return std::u16string(text.substr(b, e - b));
}

std::string EscapeUtf8(std::u16string_view text) {
    return EscapeUrlText(std::string_view(EncodeUtf8(text)));
}

bool PasswordDigest(std::u16string_view password, std::string& hex) {
    std::u16string pwd = Trim(password);
    char bytes[256] = {};
    if (!pwd.empty() && platform::WideToNarrow(pwd.c_str(), bytes, sizeof bytes) == 0)
        return false;
    hex = Md5Hex(bytes, std::strlen(bytes));
    return hex.size() == 32;
}

bool Login(std::u16string_view account, std::u16string_view password, char* dst, std::size_t cap) {
    if (dst != nullptr && cap > 0)
        dst[0] = 0;
    std::string digest;
    if (!PasswordDigest(password, digest))
        return false;
    std::u16string url = platform::FromNarrow(hosts::ApiBase()) + u"/mobilelogin.json?mobile=" +
                         Trim(account) + u"&pwd=" + platform::FromNarrow(digest);
    return Narrow(url, dst, cap);
}

bool Space(std::u16string_view uidCookie, std::u16string_view tokenCookie, char* dst,
           std::size_t cap, std::string& escUid, std::string& escToken) {
    if (dst != nullptr && cap > 0)
        dst[0] = 0;
    escUid = EscapeUtf8(uidCookie);
    escToken = EscapeUtf8(tokenCookie);
    if (escUid.size() > 259 || escToken.size() > 259)
        return false;
    return Format(dst, cap, "%s/getspace.json?uid=%s&token=%s", hosts::ApiBase().c_str(),
                  escUid.c_str(), escToken.c_str());
}

bool FolderList(const char* uid, const char* token, char* dst, std::size_t cap) {
    if (uid == nullptr || token == nullptr)
        return false;
    return Format(dst, cap, "%s/getfs.json?uid=%s&token=%s&client=PC&pname=%s",
                  hosts::ApiBase().c_str(), uid, token, "1.000.01");
}

bool FileList(const char* uid, const char* token, int mid, int folderid, int num, char* dst,
              std::size_t cap) {
    if (uid == nullptr || token == nullptr)
        return false;
    return Format(dst, cap, "%s/getfilesforpc.json?uid=%s&token=%s&mid=%d&folderid=%d&num=%d",
                  hosts::ApiBase().c_str(), uid, token, mid, folderid, num);
}

bool Version(std::u16string_view version, char* dst, std::size_t cap) {
    std::u16string url = platform::FromNarrow(hosts::UpdateBase()) +
                         u"/packagemanager/versionupdateinfo.json?version=" + Trim(version);
    return Narrow(url, dst, cap);
}

} // namespace api_url
