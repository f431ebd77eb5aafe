// The partner-login host: a sign-in form per partner; success links or creates an account,
// sets the cookies "uid" and "utoken" for the website's bare domain and goes to its home page.
#include "service/api_common.h"
#include "service/digest.h"
#include "service/html.h"
#include "service/secrets.h"

#include <algorithm>

namespace qumo_service {

namespace {

const int64_t kPartnerAccountMb = 1024;

struct Partner {
    const char* path;
    const char* key;
    const char* title;
};

const Partner kPartners[] = {
    {"/openuser/sina", "sina", "新浪微博"},
    {"/openuser/renren", "renren", "人人网"},
    {"/openuser/qweibo", "qweibo", "腾讯微博"},
    {"/qq/login", "qq", "QQ"},
};

std::string Form(const Partner& p, const std::string& error, const std::string& account) {
    std::string b = "<h1>使用" + std::string(p.title) + "账户登录酷摩岚</h1>\n";
    if (!error.empty())
        b += "<p class=\"error\">" + HtmlEscape(error) + "</p>\n";
    b += "<form method=\"post\" action=\"" + std::string(p.path) +
         "\">\n"
         "<p><label>" +
         std::string(p.title) + "账号：<input name=\"account\" value=\"" + HtmlEscape(account) +
         "\"></label></p>\n"
         "<p><label>密码：<input type=\"password\" name=\"password\"></label></p>\n"
         "<p><button type=\"submit\">授权并登录</button></p>\n</form>\n";
    return b;
}

bool IsPartnerAccount(const std::string& s) {
    if (s.empty() || s.size() > 64 || !IsValidUtf8(s))
        return false;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == ':' || c == ';' || c == '"' || c == '\\')
            return false;
    }
    return true;
}

std::string Cookie(const std::string& name, const std::string& value, const std::string& domain,
                   bool httpOnly) {
    std::string c = name + "=" + value + "; Path=/";
    if (!domain.empty())
        c += "; Domain=" + domain;
    if (httpOnly)
        c += "; HttpOnly";
    return c;
}

void SignIn(ServiceContext& ctx, const Partner& p, const httplib::Request& req,
            httplib::Response& res) {
    std::string account = req.get_param_value("account");
    std::string password = req.get_param_value("password");
    auto fail = [&](const std::string& why) {
        res.status = 400;
        res.set_content(HtmlPage(std::string(p.title) + "登录", Form(p, why, account)),
                        "text/html; charset=utf-8");
    };
    if (!IsPartnerAccount(account) || password.empty() || password.size() > 64) {
        fail("请输入账号和密码。");
        return;
    }
    // A partner account is kept as "<partner>:<account>", apart from the service's own names.
    std::string mobile = std::string(p.key) + ":" + account;
    std::string digest = Md5HexOf(password);
    const std::string& from = req.remote_addr;
    if (std::max(ctx.loginsByAccount.RefusedMs(mobile), ctx.loginsByAddress.RefusedMs(from)) > 0) {
        ctx.counters.throttled++;
        fail("登录失败次数过多，请稍后再试。");
        return;
    }
    int64_t uid = 0;
    if (std::optional<Account> a = ctx.db.AccountByMobile(mobile)) {
        if (!SameSecret(a->pwdMd5, digest)) {
            ctx.loginsByAccount.Fail(mobile);
            ctx.loginsByAddress.Fail(from);
            fail("账号或密码错误。");
            return;
        }
        ctx.loginsByAccount.Forget(mobile);
        uid = a->uid;
    } else if (ctx.newAccounts.RefusedMs(from) > 0) {
        // New accounts are limited per client address, so nobody fills the service with them.
        ctx.counters.throttled++;
        fail("新账户创建过于频繁，请稍后再试。");
        return;
    } else if (!ctx.db.CreateAccount(mobile, digest, account, kPartnerAccountMb, uid)) {
        fail("服务器忙，请稍后再试。");
        return;
    } else {
        ctx.newAccounts.Fail(from);
    }
    std::string token = ctx.db.NewToken(uid);
    if (token.empty()) {
        fail("服务器忙，请稍后再试。");
        return;
    }
    ctx.counters.logins++;
    std::string domain = ctx.CookieDomain();
    res.set_header("Set-Cookie", Cookie("uid", std::to_string(uid), domain, false));
    res.set_header("Set-Cookie", Cookie("utoken", token, domain, true));
    res.set_redirect(ctx.Scheme() + ctx.SiteHost() + "/", 302);
}

} // namespace

void AddPartnerRoutes(httplib::Server& svr, ServiceContext& ctx) {
    for (const Partner& p : kPartners) {
        svr.Get(p.path, [&p](const httplib::Request&, httplib::Response& r) {
            r.set_content(HtmlPage(std::string(p.title) + "登录", Form(p, "", "")),
                          "text/html; charset=utf-8");
        });
        svr.Post(p.path, [&ctx, &p](const httplib::Request& q, httplib::Response& r) {
            SignIn(ctx, p, q, r);
        });
    }
}

} // namespace qumo_service
