#include "service/html.h"

namespace qumo_service {

namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

} // namespace

std::string HtmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string HtmlPage(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           HtmlEscape(title) +
           "</title>\n<style>body{font-family:sans-serif;margin:2em;color:#3d586d}"
           ".error{color:#c00}</style>\n</head>\n<body>\n" +
           body + "<hr>\n<p><a href=\"/\">酷摩岚首页</a></p>\n</body>\n</html>\n";
}

std::map<std::string, std::string> ParseCookies(const std::string& header) {
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t semi = header.find(';', pos);
        if (semi == std::string::npos)
            semi = header.size();
        std::string part = header.substr(pos, semi - pos);
        size_t eq = part.find('=');
        if (eq != std::string::npos)
            out.emplace(Trim(part.substr(0, eq)), Trim(part.substr(eq + 1)));
        pos = semi + 1;
    }
    return out;
}

} // namespace qumo_service
