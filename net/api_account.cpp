// The account calls: login, space, folder list; and the shared retry loop.
#include <cstring>

#include "app/app_settings.h"
#include "base/log.h"
#include "net/api_calls.h"
#include "net/api_url.h"
#include "net/http_get.h"
#include "net/net_link.h"
#include "platform/event.h"
#include "platform/lasterror.h"

namespace {

// Keeps a byte member only when it fits the store's capacity (`cap` - 1 bytes): a cut
// uid or token would be a different account.
bool FitBytes(const Json::Value& obj, const char* key, std::string& out, std::size_t cap) {
    if (!api_json::Text(obj, key, out))
        return false;
    return out.size() < cap;
}

// Display texts may be cut, at a UTF-8 character boundary.
void CutBytes(std::string& s, std::size_t cap) {
    if (s.size() < cap)
        return;
    std::size_t n = cap - 1;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    s.resize(n);
}

} // namespace

ApiOutcome CallApi(const char* url, const RetryPolicy& policy, ApiAnswer& answer,
                   ApiResult& result) {
    result.outcome = ApiOutcome::NoAnswer;
    if (url == nullptr || url[0] == 0)
        return result.outcome;
    for (int a = 0; a < policy.attempts; ++a) {
        std::string body;
        ++result.attempts;
        bool answered = HttpModuleGet(url, body);
        if (answered && ParseApiAnswer(body, answer) == AnswerParse::Ok) {
            result.status = answer.status;
            std::memcpy(result.message, answer.message, sizeof result.message);
            if (answer.status == 200)
                result.outcome = ApiOutcome::Ok;
            else if (answer.status == 405)
                result.outcome = ApiOutcome::Refused;
            else
                result.outcome = ApiOutcome::Failed;
            return result.outcome;
        }
        if (answered) {
            result.outcome = ApiOutcome::NotJson;
            if (!policy.notJsonRetries)
                return result.outcome;
            continue; // counts as a failed attempt, without a pause
        }
        result.outcome = ApiOutcome::NoAnswer;
        switch (net::LastTlsFailure()) {
        case net::TlsFailure::Certificate:
            result.tls = ApiResult::Tls::Certificate;
            break;
        case net::TlsFailure::Handshake:
            result.tls = ApiResult::Tls::Handshake;
            break;
        case net::TlsFailure::None:
            result.tls = ApiResult::Tls::None;
            break;
        }
        if (a + 1 < policy.attempts && policy.pauseMs > 0 &&
            !platform::CancellableSleep(policy.pauseMs)) {
            result.outcome = ApiOutcome::Cancelled;
            return result.outcome;
        }
    }
    return result.outcome;
}

LoginAnswer ApiLogin(std::u16string_view account, std::u16string_view password) {
    LoginAnswer r;
    char url[256];
    if (!api_url::Login(account, password, url, sizeof url)) {
        LogError(u"mobilelogin.json: the account name or password is too long");
        return r;
    }
    ApiAnswer ans;
    if (CallApi(url, RetryPolicy{3, 100, false}, ans, r) != ApiOutcome::Ok)
        return r;
    const Json::Value& at = ans.attachment;
    std::string uid;
    bool uidText = api_json::Text(at, "uid", uid);
    if (!FitBytes(at, "token", r.token, 64) || !uidText || uid.empty() || uid.size() >= 32) {
        r.outcome = ApiOutcome::BadAnswer;
        return r;
    }
    r.uid = uid;
    api_json::Text(at, "nick", r.nick);
    CutBytes(r.nick, 128);
    api_json::Text(at, "headface", r.headface);
    CutBytes(r.headface, 256);
    api_json::UInt(at, "totalspace", r.totalSpace);
    api_json::UInt(at, "usedspace", r.usedSpace);
    return r;
}

std::u16string LoginFailureText(const LoginAnswer& a) {
    switch (a.outcome) {
    case ApiOutcome::Ok:
        return {};
    case ApiOutcome::NoAnswer:
        // The user cannot judge a certificate: the login fails closed and says why.
        if (a.tls == ApiResult::Tls::Certificate)
            return u"无法建立安全连接：证书无效！";
        if (a.tls == ApiResult::Tls::Handshake)
            return u"无法建立安全连接，请检查网络！";
        return u"登录失败，请检查网络！";
    case ApiOutcome::NotJson:
    case ApiOutcome::Cancelled:
        return u"登录失败，请检查网络！";
    case ApiOutcome::Refused:
        return a.message;
    case ApiOutcome::BadAnswer:
        return u"系统错误，用户非法，请检查电脑状态！";
    default:
        return u"登录失败，请检查用户名和密码！";
    }
}

SpaceAnswer ApiGetSpace(std::u16string_view uidCookie, std::u16string_view tokenCookie) {
    SpaceAnswer r;
    char url[1024];
    bool built = api_url::Space(uidCookie, tokenCookie, url, sizeof url, r.escUid, r.escToken);
    ApiAnswer ans;
    if (built)
        CallApi(url, RetryPolicy{3, 50, true}, ans, r);
    if (!built || r.outcome == ApiOutcome::NoAnswer || r.outcome == ApiOutcome::NotJson) {
        r.outcome = ApiOutcome::NoAnswer;
        LogError(u"getspace.json HttpModuleGet error %d", platform::GetLastErrorCode());
        return r;
    }
    if (r.outcome != ApiOutcome::Ok)
        return r;
    const Json::Value& at = ans.attachment;
    if (!api_json::UInt(at, "totalspace", r.totalSpace) ||
        !api_json::UInt(at, "usedspace", r.usedSpace)) {
        r.outcome = ApiOutcome::BadAnswer;
        return r;
    }
    api_json::Text(at, "nick", r.nick);
    CutBytes(r.nick, 128);
    api_json::Text(at, "headface", r.headface);
    CutBytes(r.headface, 256);
    if (r.totalSpace == 0) {
        r.outcome = ApiOutcome::ZeroSpace;
        return r;
    }
    LogInfo(u"[UserSpace] Used = %d; nTotal = %d.", static_cast<int>(r.usedSpace),
            static_cast<int>(r.totalSpace));
    return r;
}

std::u16string SpaceFailureText(const SpaceAnswer& a) {
    switch (a.outcome) {
    case ApiOutcome::Ok:
        return {};
    case ApiOutcome::NoAnswer:
    case ApiOutcome::NotJson:
    case ApiOutcome::Cancelled:
        return u"获取用户信息失败，请重试！";
    case ApiOutcome::ZeroSpace:
    case ApiOutcome::BadAnswer:
        return u"登录失败，请检查用户名和密码，空间非法！";
    default:
        return u"登录失败，请检查用户名和密码！";
    }
}

FolderListAnswer ApiGetFolderList(LoginKind kind) {
    FolderListAnswer r;
    CAppSettings& st = GetAppSettings();
    char url[520];
    std::size_t cap = kind == LoginKind::Account ? 256 : 520;
    bool built = api_url::FolderList(st.m_szUid, st.m_szToken, url, cap);
    ApiAnswer ans;
    if (built) {
        RetryPolicy p =
            kind == LoginKind::Account ? RetryPolicy{1, 0, false} : RetryPolicy{3, 50, true};
        CallApi(url, p, ans, r);
    }
    if (kind == LoginKind::Partner &&
        (!built || r.outcome == ApiOutcome::NoAnswer || r.outcome == ApiOutcome::NotJson)) {
        r.outcome = ApiOutcome::NoAnswer;
        LogError(u"getfs.json HttpModuleGet error %d", platform::GetLastErrorCode());
        return r;
    }
    if (r.outcome != ApiOutcome::Ok)
        return r;
    const Json::Value& at = ans.attachment;
    if (!at.isObject() || !at.isMember("folderlist"))
        return r; // nothing to hand over; the login still completes
    const Json::Value& list = at["folderlist"];
    if (!list.isArray() && !list.isNull())
        return r;
    r.hasList = true;
    if (list.isNull())
        return r;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        const Json::Value& e = list[i];
        ServerFolder f;
        api_json::DecodeText(e, "name", f.name);
        f.fid = api_json::AtoiMember(e, "fid");
        f.parenterid = api_json::AtoiMember(e, "parenterid");
        r.folders.push_back(f);
    }
    return r;
}

std::u16string FolderListFailureText(const FolderListAnswer& a, LoginKind kind) {
    switch (a.outcome) {
    case ApiOutcome::Ok:
        return {};
    case ApiOutcome::NotJson:
        // After an account login an answer that is not JSON is passed over.
        if (kind == LoginKind::Account)
            return {};
        return u"系统错误，未获取用户信息，请检查电脑状态！";
    case ApiOutcome::NoAnswer:
    case ApiOutcome::Cancelled:
        return u"系统错误，未获取用户信息，请检查电脑状态！";
    default:
        return u"登录失败，请检查用户名和密码！";
    }
}
