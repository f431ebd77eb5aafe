// The website: home, registration, password help, more space, about, downloads.
#include "service/api_common.h"
#include "service/digest.h"
#include "service/html.h"

namespace qumo_service {

namespace {

const int64_t kNewAccountMb = 1024;

void SendHtml(httplib::Response& res, const std::string& title, const std::string& body) {
    res.set_content(HtmlPage(title, body), "text/html; charset=utf-8");
}

bool IsAccountName(const std::string& s) {
    if (s.empty() || s.size() > 32)
        return false;
    for (char c : s) {
        bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  c == '_' || c == '.' || c == '@' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

std::string RegisterForm(const std::string& error, const std::string& mobile,
                         const std::string& nick) {
    std::string b;
    if (!error.empty())
        b += "<p class=\"error\">" + HtmlEscape(error) + "</p>\n";
    b += "<form method=\"post\" action=\"/user/register\">\n"
         "<p><label>手机号：<input name=\"mobile\" value=\"" +
         HtmlEscape(mobile) +
         "\"></label></p>\n"
         "<p><label>昵称：<input name=\"nick\" value=\"" +
         HtmlEscape(nick) +
         "\"></label></p>\n"
         "<p><label>密码：<input type=\"password\" name=\"password\"></label></p>\n"
         "<p><label>确认密码：<input type=\"password\" name=\"password2\"></label></p>\n"
         "<p><button type=\"submit\">注册</button></p>\n</form>\n";
    return b;
}

void Home(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::map<std::string, std::string> cookies = ParseCookies(req.get_header_value("Cookie"));
    std::string who;
    auto uid = cookies.find("uid"), token = cookies.find("utoken");
    if (uid != cookies.end() && token != cookies.end()) {
        std::optional<int64_t> owner = ctx.db.UidForToken(token->second);
        if (owner && std::to_string(*owner) == uid->second) {
            if (std::optional<Account> a = ctx.db.AccountByUid(*owner))
                who = a->nick;
        }
    }
    std::string b = "<h1>欢迎来到酷摩岚</h1>\n";
    if (!who.empty())
        b += "<p>您好，" + HtmlEscape(who) + "！您已登录。</p>\n";
    b += "<p>酷摩岚：您的私人照片与视频空间。</p>\n"
         "<ul><li><a href=\"/user/register\">注册新账户</a></li>"
         "<li><a href=\"/info/morespace/\">获取更多空间</a></li>"
         "<li><a href=\"/about/aboutus\">关于我们</a></li></ul>\n";
    SendHtml(res, "酷摩岚", b);
}

void RegisterPost(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res) {
    std::string mobile = req.get_param_value("mobile");
    std::string nick = req.get_param_value("nick");
    std::string pwd = req.get_param_value("password");
    std::string error;
    if (!IsAccountName(mobile))
        error = "手机号只能包含字母、数字和 _ . @ -，最长 32 个字符。";
    else if (nick.empty() || nick.size() > 64 || !IsSafeName(nick))
        error = "请填写昵称（最长 64 字节）。";
    else if (pwd.size() < 6 || pwd.size() > 64)
        error = "密码长度应为 6 到 64 个字符。";
    else if (pwd != req.get_param_value("password2"))
        error = "两次输入的密码不一致。";
    int64_t uid = 0;
    if (error.empty() && ctx.newAccounts.RefusedMs(req.remote_addr) > 0) {
        ctx.counters.throttled++;
        error = "新账户创建过于频繁，请稍后再试。";
    }
    if (error.empty() && !ctx.db.CreateAccount(mobile, Md5HexOf(pwd), nick, kNewAccountMb, uid))
        error = "该手机号已被注册。";
    if (error.empty())
        ctx.newAccounts.Fail(req.remote_addr);
    if (!error.empty()) {
        res.status = 400;
        SendHtml(res, "注册酷摩岚账户", RegisterForm(error, mobile, nick));
        return;
    }
    SendHtml(res, "注册成功",
             "<h1>注册成功</h1>\n<p>账户 " + HtmlEscape(mobile) +
                 " 已创建，请在客户端登录。</p>\n");
}

} // namespace

void AddPageRoutes(httplib::Server& svr, ServiceContext& ctx) {
    svr.Get("/", [&ctx](const httplib::Request& q, httplib::Response& r) { Home(ctx, q, r); });
    svr.Get("/user/register", [](const httplib::Request&, httplib::Response& r) {
        SendHtml(r, "注册酷摩岚账户", "<h1>注册酷摩岚账户</h1>\n" + RegisterForm("", "", ""));
    });
    svr.Post("/user/register",
             [&ctx](const httplib::Request& q, httplib::Response& r) { RegisterPost(ctx, q, r); });
    svr.Get("/user/repwd", [](const httplib::Request&, httplib::Response& r) {
        SendHtml(r, "找回密码",
                 "<h1>找回密码</h1>\n<form method=\"get\" action=\"/user/repwd\">\n"
                 "<p><label>手机号：<input name=\"mobile\"></label></p>\n"
                 "<p><button type=\"submit\">发送验证短信</button></p>\n</form>\n"
                 "<p>验证短信将发送到您注册时填写的手机号。</p>\n");
    });
    svr.Get("/info/morespace/", [](const httplib::Request&, httplib::Response& r) {
        SendHtml(r, "获取更多空间",
                 "<h1>获取更多空间</h1>\n<p>每个账户免费拥有 1 GB 空间。</p>\n"
                 "<ul><li>邀请好友注册：每位好友增加 100 MB。</li>"
                 "<li>升级为高级会员：空间增加到 50 GB。</li></ul>\n");
    });
    svr.Get("/about/aboutus", [](const httplib::Request&, httplib::Response& r) {
        SendHtml(r, "关于我们",
                 "<h1>关于酷摩岚</h1>\n<p>酷摩岚是一个私人照片与视频分享服务，"
                 "让您随时随地保存和欣赏珍贵的回忆。</p>\n");
    });
    svr.Get(R"(/download/([A-Za-z0-9._-]{1,64}))", [](const httplib::Request& q,
                                                      httplib::Response& r) {
        SendHtml(r, "下载新版本",
                 "<h1>下载新版本</h1>\n<p>" + HtmlEscape(q.matches[1]) + " 即将开始下载。</p>\n");
    });
}

} // namespace qumo_service
