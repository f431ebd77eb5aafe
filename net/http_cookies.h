// The cookies one HTTP client keeps: stored from "Set-Cookie:" lines, sent back in the
// "Cookie:" header of later requests to the same site.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class HttpMessage;

struct HttpCookie {
    std::string name;
    std::string value;
    std::int64_t expires = 0; // seconds; 0 = kept for the client's lifetime
    std::string path;
    std::string domain;
    bool secure = false;
    bool httponly = false;
};

class HttpCookieJar {
public:
    // Stores every "Set-Cookie:" line of `response` for host `host`; `defaultPath` is the
    // directory of the request's path.
    void StoreCookies(const HttpMessage& response, const char* defaultPath, const char* host);
    // Stores one Set-Cookie value.
    void StoreCookie(std::string_view value, std::string_view defaultPath, std::string_view host);
    // The value of the "Cookie: " header for a request to `host` whose path has the
    // directory `dir`; none when no cookie applies.
    std::optional<std::string> CookieHeaderFor(const char* host, const char* dir,
                                               bool secure) const;

    // Every cookie filed under the domain key of `host`, in order (for inspection).
    std::vector<HttpCookie> CookiesFor(std::string_view host) const;

    // The clock in seconds on the scale expiry dates are converted to; tests pretend a time.
    using Clock = std::function<std::int64_t()>;
    void SetClock(Clock clock);
    std::int64_t Now() const;

private:
    mutable std::mutex m_lock;
    std::map<std::string, std::vector<HttpCookie>> m_lists;
    Clock m_clock;
};

// The key cookies of `host` are filed under: the host itself when it is a dotted address,
// else its last two dot-separated labels (the whole host with fewer than two dots).
std::string CookieDomainKey(std::string_view host);

// Whether a cookie domain `domain` applies to `host` (the "domain" attribute rule).
bool CookieDomainMatches(std::string_view domain, std::string_view host);

// Parses an expiry date "Wdy, DD-Mon-YYYY HH:MM:SS GMT" (or with a two-digit year) into
// seconds on the jar's scale; false when it fits neither form.
bool ParseCookieDate(std::string_view text, std::int64_t& seconds);
