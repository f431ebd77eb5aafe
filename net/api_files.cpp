// The file list pages of a server folder and the version information.
#include <cmath>
#include <cstdlib>

#include "app/app_settings.h"
#include "net/api_calls.h"
#include "net/api_url.h"
#include "net/http_get.h"
#include "platform/event.h"

namespace {

// "timestamp" arrives as decimal text; read with atof rules and truncated.
int64_t TimestampMember(const Json::Value& obj) {
    std::string s;
    if (!api_json::Text(obj, "timestamp", s))
        return 0;
    double d = std::strtod(s.c_str(), nullptr);
    if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18)
        return 0;
    return static_cast<int64_t>(d);
}

ServerFileEntry ReadEntry(const Json::Value& e) {
    ServerFileEntry f;
    std::string name;
    if (api_json::Text(e, "name", name))
        f.name = api_json::DecodeString(name);
    f.dirid = api_json::AtoiMember(e, "dirid");
    api_json::Int(e, "type", f.type);
    f.timestamp = TimestampMember(e);
    if (f.type == 100) {
        api_json::DecodeText(e, "fid", f.id);
        return f;
    }
    api_json::DecodeText(e, "id", f.id);
    api_json::UInt64(e, "size", f.size);
    api_json::DecodeText(e, "suffix", f.suffix);
    api_json::DecodeText(e, "source", f.source);
    api_json::DecodeText(e, "bigpic", f.bigpic);
    api_json::DecodeText(e, "mobilepic", f.mobilepic);
    if (f.type == 200)
        api_json::DecodeText(e, "playurl", f.playurl);
    return f;
}

} // namespace

ApiOutcome ApiGetFileListPage(int mid, int folderid, int num, int& failures, FileListPage& page) {
    CAppSettings& st = GetAppSettings();
    char url[1024];
    bool built = api_url::FileList(st.m_szUid, st.m_szToken, mid, folderid, num, url, sizeof url);
    while (true) {
        if (failures >= kFileListMaxFailures || !built) {
            page.outcome = ApiOutcome::GaveUp;
            return page.outcome;
        }
        ApiAnswer ans;
        ApiResult one;
        CallApi(url, RetryPolicy{1, 0, false}, ans, one);
        page.attempts += one.attempts;
        page.status = one.status;
        if (one.outcome == ApiOutcome::Ok) {
            const Json::Value& at = ans.attachment;
            page.total = 0;
            api_json::Int(at, "size", page.total);
            page.entries.clear();
            page.hasList = false;
            if (at.isObject() && at.isMember("filelist") &&
                (at["filelist"].isArray() || at["filelist"].isNull())) {
                page.hasList = true;
                const Json::Value& list = at["filelist"];
                // At most what was asked: a longer page would cost memory and thumbnail
                // downloads without limit.
                const Json::ArrayIndex wanted = num > 0 ? static_cast<Json::ArrayIndex>(num) : 0;
                for (Json::ArrayIndex i = 0; list.isArray() && i < list.size() && i < wanted; ++i)
                    page.entries.push_back(ReadEntry(list[i]));
            }
            page.outcome = ApiOutcome::Ok;
            return page.outcome;
        }
        ++failures;
        if (!platform::CancellableSleep(kFileListPauseMs)) {
            page.outcome = ApiOutcome::Cancelled;
            return page.outcome;
        }
    }
}

VersionAnswer ApiGetVersionInfo(std::u16string_view version, bool interactive) {
    VersionAnswer r;
    char url[256];
    if (!api_url::Version(version, url, sizeof url))
        return r;
    ApiAnswer ans;
    if (CallApi(url, RetryPolicy{3, interactive ? 500 : 100, false}, ans, r) != ApiOutcome::Ok)
        return r;
    int st = 0;
    if (!api_json::Int(ans.attachment, "status", st)) {
        r.outcome = ApiOutcome::BadAnswer;
        return r;
    }
    r.newer = st != 0;
    api_json::DecodeText(ans.attachment, "updateurl", r.updateUrl);
    return r;
}

std::u16string VersionFailureText(const VersionAnswer& a, bool interactive) {
    if (!interactive)
        return {};
    switch (a.outcome) {
    case ApiOutcome::Ok:
    case ApiOutcome::NotJson:
        return {};
    case ApiOutcome::Refused:
        return a.message;
    default:
        return u"检查版本更新失败，请检查网络！";
    }
}
