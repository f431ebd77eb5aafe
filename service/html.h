// Plain HTML pages of the website and the partner-login host (UTF-8, Chinese).
#pragma once

#include <map>
#include <string>

namespace qumo_service {

std::string HtmlEscape(const std::string& s);
// A whole page with the site's header and footer around body (already HTML).
std::string HtmlPage(const std::string& title, const std::string& body);
// Cookie header "a=1; b=2" to a map; names and values trimmed.
std::map<std::string, std::string> ParseCookies(const std::string& header);

} // namespace qumo_service
