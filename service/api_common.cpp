#include "service/api_common.h"

#include <cerrno>
#include <cstdlib>

namespace qumo_service {

bool ParseDecimal(const std::string& s, int64_t lo, int64_t hi, int64_t& out) {
    size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (i >= s.size() || s.size() > 20)
        return false;
    for (size_t k = i; k < s.size(); ++k) {
        if (s[k] < '0' || s[k] > '9')
            return false;
    }
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (errno != 0 || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParamInt(const httplib::Request& req, const char* name, int64_t lo, int64_t hi, int64_t& out) {
    if (!req.has_param(name))
        return false;
    return ParseDecimal(req.get_param_value(name), lo, hi, out);
}

std::optional<int64_t> CheckToken(ServiceContext& ctx, const httplib::Request& req,
                                  httplib::Response& res) {
    int64_t uid = 0;
    std::string token = req.get_param_value("token");
    if (!ParamInt(req, "uid", 1, INT64_MAX, uid) || token.empty()) {
        SendError(res, kBadToken, "用户未登录，请重新登录！");
        return std::nullopt;
    }
    std::optional<int64_t> owner = ctx.db.UidForToken(token);
    if (!owner || *owner != uid) {
        SendError(res, kBadToken, "登录已失效，请重新登录！");
        return std::nullopt;
    }
    return uid;
}

bool IsSafeName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name == "." || name == ".." || !IsValidUtf8(name))
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    }
    return true;
}

std::string LowerAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

int TypeOfSuffix(const std::string& suffix) {
    static const char* const kVideo[] = {"flv", "f4v",  "avi", "ts",  "mp4", "3gp", "mpg",
                                         "mov", "rmvb", "rm",  "mkv", "wmv", "swf", "vob"};
    std::string s = LowerAscii(suffix);
    for (const char* v : kVideo) {
        if (s == v)
            return 200;
    }
    return 1;
}

} // namespace qumo_service
