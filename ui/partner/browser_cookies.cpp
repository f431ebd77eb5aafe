#include "ui/partner/browser_cookies.h"

#include <QUrl>

#include <algorithm>

namespace {

// A domain attribute ".example.com" (as the store reports "Domain=example.com") matches
// that host and every host below it; a host-only cookie matches its host alone.
bool DomainMatches(const QString& cookieDomain, const QString& host) {
    if (cookieDomain.isEmpty()) {
        return false;
    }
    if (!cookieDomain.startsWith(u'.')) {
        return host.compare(cookieDomain, Qt::CaseInsensitive) == 0;
    }
    const QString bare = cookieDomain.mid(1);
    if (host.compare(bare, Qt::CaseInsensitive) == 0) {
        return true;
    }
    return host.endsWith(cookieDomain, Qt::CaseInsensitive);
}

bool PathMatches(const QString& cookiePath, const QString& path) {
    if (cookiePath.isEmpty() || cookiePath == u"/") {
        return true;
    }
    if (!path.startsWith(cookiePath)) {
        return false;
    }
    return path.size() == cookiePath.size() || cookiePath.endsWith(u'/') ||
           path.at(cookiePath.size()) == u'/';
}

} // namespace

bool CBrowserCookies::SameCookie(const QNetworkCookie& a, const QNetworkCookie& b) {
    return a.name() == b.name() && a.domain().compare(b.domain(), Qt::CaseInsensitive) == 0 &&
           a.path() == b.path();
}

void CBrowserCookies::Add(const QNetworkCookie& cookie) {
    Remove(cookie);
    m_cookies.push_back(cookie);
}

void CBrowserCookies::Remove(const QNetworkCookie& cookie) {
    m_cookies.erase(std::remove_if(m_cookies.begin(), m_cookies.end(),
                                   [&](const QNetworkCookie& c) { return SameCookie(c, cookie); }),
                    m_cookies.end());
}

bool CBrowserCookies::Matches(const QNetworkCookie& cookie, const QString& scheme,
                              const QString& host, const QString& path) {
    if (cookie.isSecure() && scheme != u"https") {
        return false;
    }
    return DomainMatches(cookie.domain(), host) && PathMatches(cookie.path(), path);
}

bool CBrowserCookies::GetCookie(const char16_t* url, const char16_t* name, char16_t* buffer,
                                std::size_t cap) const {
    if (!buffer || cap == 0) {
        return false;
    }
    buffer[0] = 0;
    if (!url || !name || !name[0]) {
        return false;
    }
    const QUrl address(QString::fromUtf16(url));
    if (!address.isValid() || address.host().isEmpty()) {
        return false;
    }
    const QString scheme = address.scheme().toLower();
    const QString host = address.host();
    const QString path = address.path().isEmpty() ? QStringLiteral("/") : address.path();
    const QByteArray wanted = QString::fromUtf16(name).toUtf8();

    // The latest setting wins, as the store keeps only that one.
    for (auto it = m_cookies.rbegin(); it != m_cookies.rend(); ++it) {
        if (it->name() != wanted || !Matches(*it, scheme, host, path)) {
            continue;
        }
        const std::u16string text =
            QString::fromUtf8(it->name() + '=' + it->value()).toStdU16String();
        if (text.size() + 1 > cap) {
            return false;
        }
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
        return true;
    }
    return false;
}

std::u16string CookieTextValue(std::u16string_view text) {
    const QString trimmed =
        QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    const qsizetype eq = trimmed.indexOf(u'=');
    return (eq < 0 ? trimmed : trimmed.mid(eq + 1)).toStdU16String();
}
