#include "net/http_cookies.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "net/http_message.h"
#include "platform/socket.h"

namespace {

bool IsDotted(std::string_view s) {
    if (s.size() > 15)
        return false;
    std::string z(s);
    return platform::IsDottedIPv4(z.c_str());
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view Trim(std::string_view t) {
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ')
        t.remove_suffix(1);
    return t;
}

void Print(const char* fmt, std::string_view text) {
    std::printf(fmt, std::string(text).c_str());
}

} // namespace

std::string CookieDomainKey(std::string_view host) {
    if (IsDotted(host))
        return std::string(host);
    std::size_t last = host.rfind('.');
    if (last == std::string_view::npos || last == 0)
        return std::string(host);
    std::size_t second = host.rfind('.', last - 1);
    if (second == std::string_view::npos)
        return std::string(host);
    return std::string(host.substr(second + 1));
}

bool CookieDomainMatches(std::string_view domain, std::string_view host) {
    if (IsDotted(domain))
        return domain == host;
    std::string_view bare = domain;
    if (!bare.empty() && bare.front() == '.')
        bare.remove_prefix(1);
    if (!bare.empty() && bare.back() == '.')
        bare.remove_suffix(1);
    if (bare.find('.') == std::string_view::npos)
        return false;
    if (EqualNoCase(bare, host))
        return true;
    if (domain.front() != '.')
        return false;
    std::string_view suffix = domain;
    if (suffix.back() == '.')
        suffix.remove_suffix(1);
    if (!EndsWithNoCase(host, suffix))
        return false;
    return host.substr(0, host.size() - suffix.size()).find('.') == std::string_view::npos;
}

namespace {

bool ReadNumber(std::string_view& t, int minDigits, int maxDigits, int& out) {
    int digits = 0;
    out = 0;
    while (digits < maxDigits && !t.empty() && t.front() >= '0' && t.front() <= '9') {
        out = out * 10 + (t.front() - '0');
        t.remove_prefix(1);
        ++digits;
    }
    return digits >= minDigits && (t.empty() || t.front() < '0' || t.front() > '9');
}

bool Expect(std::string_view& t, std::string_view lit) {
    if (t.substr(0, lit.size()) != lit)
        return false;
    t.remove_prefix(lit.size());
    return true;
}

bool ReadName(std::string_view& t, const char* const* names, int count, int& index) {
    for (int i = 0; i < count; ++i) {
        std::string_view n = names[i];
        if (StartsWithNoCase(t, n)) {
            t.remove_prefix(n.size());
            index = i;
            return true;
        }
    }
    return false;
}

bool ParseDateForm(std::string_view t, bool fourDigitYear, std::int64_t& seconds) {
    static const char* const kDays[] = {"Monday",   "Tuesday", "Wednesday", "Thursday", "Friday",
                                        "Saturday", "Sunday",  "Mon",       "Tue",      "Wed",
                                        "Thu",      "Fri",     "Sat",       "Sun"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int idx = 0, day = 0, month = 0, year = 0, h = 0, m = 0, s = 0;
    if (!ReadName(t, kDays, 14, idx) || !Expect(t, ", "))
        return false;
    if (!ReadNumber(t, 1, 2, day) || day < 1 || day > 31 || !Expect(t, "-"))
        return false;
    if (!ReadName(t, kMonths, 12, month) || !Expect(t, "-"))
        return false;
    if (fourDigitYear) {
        if (!ReadNumber(t, 4, 4, year))
            return false;
    } else {
        if (!ReadNumber(t, 2, 2, year))
            return false;
        year += year >= 70 ? 1900 : 2000;
    }
    if (!Expect(t, " ") || !ReadNumber(t, 1, 2, h) || h > 23 || !Expect(t, ":") ||
        !ReadNumber(t, 1, 2, m) || m > 59 || !Expect(t, ":") || !ReadNumber(t, 1, 2, s) || s > 61 ||
        !Expect(t, " GMT"))
        return false;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    seconds = static_cast<std::int64_t>(timegm(&tm));
    return true;
}

} // namespace

bool ParseCookieDate(std::string_view text, std::int64_t& seconds) {
    return ParseDateForm(text, true, seconds) || ParseDateForm(text, false, seconds);
}

void HttpCookieJar::SetClock(Clock clock) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_clock = std::move(clock);
}

std::int64_t HttpCookieJar::Now() const {
    if (m_clock)
        return m_clock();
    return static_cast<std::int64_t>(std::time(nullptr));
}

void HttpCookieJar::StoreCookies(const HttpMessage& response, const char* defaultPath,
                                 const char* host) {
    if (!host)
        return;
    for (int i = 0;; ++i) {
        auto value = response.GetHeaderValue("Set-Cookie:", i);
        if (!value)
            break;
        Print("Extraido: %s\n", *value);
        StoreCookie(*value, defaultPath ? defaultPath : "", host);
    }
}

void HttpCookieJar::StoreCookie(std::string_view value, std::string_view defaultPath,
                                std::string_view host) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::optional<std::string> path, domain;
    std::int64_t expires = 0;
    bool remove = false, secure = false, httponly = false;
    const std::int64_t now = Now();

    std::size_t pos = 0;
    while (pos <= value.size()) {
        std::size_t semi = value.find(';', pos);
        if (semi == std::string_view::npos)
            semi = value.size();
        std::string_view tok = Trim(value.substr(pos, semi - pos));
        pos = semi + 1;
        if (tok.empty())
            continue;
        std::size_t eq = tok.find('=');
        if (eq == std::string_view::npos) {
            if (tok == "HttpOnly" || tok == "httponly")
                httponly = true;
            else if (tok == "secure")
                secure = true;
            else
                Print("Ignored Unknown Cookie Flag: %s\n", tok);
            continue;
        }
        std::string_view name = tok.substr(0, eq), val = tok.substr(eq + 1);
        if (name == "path") {
            path = std::string(val);
        } else if (name == "domain") {
            if (!(IsDotted(val) ? val == host : CookieDomainMatches(val, host)))
                return; // a domain of another site drops the whole value
            domain = std::string(val);
        } else if (name == "max-age") {
            std::string z(val);
            char* end = nullptr;
            double secs = std::strtod(z.c_str(), &end);
            if (end == z.c_str() || std::isnan(secs) || secs == -1)
                continue;
            if (secs == 0) {
                remove = true;
            } else {
                // Far-off values are clamped so the sum stays in range.
                double capped = std::fmax(std::fmin(secs, 1e15), -1e15);
                expires = now + static_cast<std::int64_t>(capped);
            }
        } else if (name == "expires") {
            std::int64_t when = 0;
            if (!ParseCookieDate(val, when) || when < now) {
                remove = true;
                Print("OLD DATE: %s\n", val);
            } else {
                expires = when;
            }
        } else if (name == "version") {
        } else {
            pairs.emplace_back(std::string(name), std::string(val));
        }
    }
    std::string cpath = path ? *path : std::string(defaultPath);
    std::string cdomain = domain ? *domain : std::string(host);

    std::lock_guard<std::mutex> lk(m_lock);
    auto& list = m_lists[CookieDomainKey(host)];
    for (const auto& pair : pairs) {
        const std::string& name = pair.first;
        const std::string& val = pair.second;
        if (remove) {
            std::erase_if(list, [&](const HttpCookie& c) {
                return c.name == name && c.domain == cdomain && !c.path.empty() &&
                       cpath.compare(0, c.path.size(), c.path) == 0;
            });
            continue;
        }
        bool found = false;
        for (auto& c : list) {
            if (c.name == name && c.path == cpath && c.domain == cdomain && c.secure == secure) {
                c.value = val;
                c.expires = expires;
                found = true;
                break;
            }
        }
        if (!found)
            list.push_back({name, val, expires, cpath, cdomain, secure, httponly});
    }
}

std::optional<std::string> HttpCookieJar::CookieHeaderFor(const char* host, const char* dir,
                                                          bool secure) const {
    if (!host || !dir)
        return std::nullopt;
    std::string_view h = host, d = dir;
    const std::int64_t now = Now();
    // Reading takes the lock too: a client shared by threads may be storing meanwhile.
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_lists.find(CookieDomainKey(h));
    if (it == m_lists.end())
        return std::nullopt;
    std::string out;
    bool any = false;
    for (const auto& c : it->second) {
        if (c.path.empty() || d.substr(0, c.path.size()) != c.path)
            continue;
        if (c.expires != 0 && c.expires < now)
            continue;
        if (!(IsDotted(c.domain) ? c.domain == h : CookieDomainMatches(c.domain, h)))
            continue;
        if (c.secure && !secure)
            continue;
        if (any)
            out += "; ";
        out += c.name + "=" + c.value;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return out;
}

std::vector<HttpCookie> HttpCookieJar::CookiesFor(std::string_view host) const {
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_lists.find(CookieDomainKey(host));
    return it == m_lists.end() ? std::vector<HttpCookie>{} : it->second;
}
