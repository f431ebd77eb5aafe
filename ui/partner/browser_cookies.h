// The cookies of one embedded browser, collected from its cookie store as they are set,
// and looked up the way the browser would send them to an address.
#pragma once

#include <QNetworkCookie>
#include <QString>

#include <cstddef>
#include <string>
#include <vector>

class CBrowserCookies {
public:
    // Room for one cookie text, terminator included, when the caller gives none.
    static constexpr std::size_t kCookieTextCap = 10240;

    // A cookie set by a page (HTTP-only ones included); one with the same name, domain
    // and path is replaced.
    void Add(const QNetworkCookie& cookie);
    // A cookie deleted or expired in the store.
    void Remove(const QNetworkCookie& cookie);
    void Clear() { m_cookies.clear(); }
    std::size_t Count() const { return m_cookies.size(); }

    // The text "name=value" of the cookie `name` that a request to `url` would carry,
    // into `buffer` of `cap` UTF-16 units (terminator included). False, with an empty
    // buffer, when there is no such cookie or its text does not fit: a cut value would
    // be a different credential.
    bool GetCookie(const char16_t* url, const char16_t* name, char16_t* buffer,
                   std::size_t cap) const;

private:
    static bool SameCookie(const QNetworkCookie& a, const QNetworkCookie& b);
    static bool Matches(const QNetworkCookie& cookie, const QString& scheme, const QString& host,
                        const QString& path);

    std::vector<QNetworkCookie> m_cookies;
};

// The value in a cookie text: trimmed at both ends, everything after its first "=", or the
// whole text when it holds no "=".
std::u16string CookieTextValue(std::u16string_view text);
