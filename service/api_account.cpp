// Login, space and version answers.
#include "service/api_common.h"
#include "service/secrets.h"

#include <algorithm>
#include <vector>

namespace qumo_service {

namespace {

const int64_t kMb = 1 << 20;

int64_t UsedMb(int64_t usedBytes) {
    return (usedBytes + kMb - 1) / kMb;
}

// Dotted versions compare part by part as numbers; missing parts count as 0.
std::vector<int64_t> VersionParts(const std::string& v) {
    std::vector<int64_t> parts;
    int64_t cur = 0;
    bool any = false;
    for (char c : v) {
        if (c == '.') {
            parts.push_back(cur);
            cur = 0;
            any = false;
        } else if (c >= '0' && c <= '9') {
            if (cur < 1000000000)
                cur = cur * 10 + (c - '0');
            any = true;
        }
    }
    if (any || !parts.empty())
        parts.push_back(cur);
    return parts;
}

bool IsOlder(const std::string& a, const std::string& b) {
    std::vector<int64_t> x = VersionParts(a), y = VersionParts(b);
    size_t n = std::max(x.size(), y.size());
    x.resize(n, 0);
    y.resize(n, 0);
    return x < y;
}

bool IsHex32(const std::string& s) {
    if (s.size() != 32)
        return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

void Login(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::string mobile = req.get_param_value("mobile");
    std::string pwd = LowerAscii(req.get_param_value("pwd"));
    if (mobile.empty() || !IsHex32(pwd)) {
        SendError(res, kBadParameter, "请输入用户名和密码！");
        return;
    }
    // Guessing is slowed per account and per client address: after a few failures both
    // are refused for a while, longer with every round. The refusal is a 405 with a reason,
    // which the login window shows as it is.
    int64_t waitMs = std::max(ctx.loginsByAccount.RefusedMs(mobile),
                              ctx.loginsByAddress.RefusedMs(req.remote_addr));
    if (waitMs > 0) {
        ctx.counters.throttled++;
        SendError(res, kRefused,
                  "登录失败次数过多，请" + std::to_string((waitMs + 999) / 1000) + "秒后再试！");
        return;
    }
    std::optional<Account> a = ctx.db.AccountByMobile(mobile);
    // One answer for an unknown account and a wrong password: the form gives nothing away.
    if (!a || !SameSecret(a->pwdMd5, pwd)) {
        ctx.counters.failedLogins++;
        ctx.loginsByAccount.Fail(mobile);
        ctx.loginsByAddress.Fail(req.remote_addr);
        SendError(res, kRefused, "用户名或密码错误，请重新输入！");
        return;
    }
    ctx.loginsByAccount.Forget(mobile);
    std::string token = ctx.db.NewToken(a->uid);
    if (token.empty()) {
        SendError(res, kServerError, "服务器忙，请稍后再试！");
        return;
    }
    ctx.counters.logins++;
    JsonObject o;
    o.Str("token", token).Str("uid", std::to_string(a->uid)).Str("nick", a->nick);
    o.Str("headface", ctx.HeadfaceUrl(a->face)).Int("totalspace", a->totalMb);
    o.Int("usedspace", UsedMb(ctx.db.UsedBytes(a->uid)));
    SendJson(res, Ok(o.Done()));
}

void Space(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::optional<int64_t> uid = CheckToken(ctx, req, res);
    if (!uid)
        return;
    std::optional<Account> a = ctx.db.AccountByUid(*uid);
    if (!a) {
        SendError(res, kBadToken, "用户不存在！");
        return;
    }
    int64_t used = ctx.db.UsedBytes(*uid);
    JsonObject o;
    o.Int("totalspace", a->totalMb).Int("usedspace", UsedMb(used)).Str("nick", a->nick);
    o.Str("headface", ctx.HeadfaceUrl(a->face)).Int("usedbytes", used);
    SendJson(res, Ok(o.Done()));
}

void Version(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("version") || VersionParts(req.get_param_value("version")).empty()) {
        SendError(res, kBadParameter, "版本号错误！");
        return;
    }
    const std::string& latest = ctx.opts.latestVersion;
    bool newer = !latest.empty() && IsOlder(req.get_param_value("version"), latest);
    JsonObject o;
    o.Int("status", newer ? 1 : 0);
    if (newer) {
        o.Str("updateurl",
              ctx.Scheme() + ctx.SiteHost() + "/download/QumoClient-" + latest + ".exe");
        o.Str("updateverison", latest).Str("updatedesc", "修正了若干问题，上传更稳定。");
    } else {
        o.Str("updateurl", "").Str("updateverison", "").Str("updatedesc", "");
    }
    SendJson(res, Ok(o.Done()));
}

} // namespace

void AddAccountRoutes(httplib::Server& svr, ServiceContext& ctx) {
    svr.Get("/mobilelogin.json",
            [&ctx](const httplib::Request& q, httplib::Response& r) { Login(ctx, q, r); });
    svr.Get("/getspace.json",
            [&ctx](const httplib::Request& q, httplib::Response& r) { Space(ctx, q, r); });
    svr.Get("/packagemanager/versionupdateinfo.json",
            [&ctx](const httplib::Request& q, httplib::Response& r) { Version(ctx, q, r); });
}

} // namespace qumo_service
