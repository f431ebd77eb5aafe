#include "ui/partner/web_browser2.h"

#include <QNetworkCookie>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <cstdlib>
#include <unistd.h>

void PrepareBrowserEngine() {
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    }
}

CWebBrowser2::CWebBrowser2(QWidget* parent) : QWebEngineView(parent) {
    PrepareBrowserEngine();
    // A profile without a storage name lives in memory only.
    m_pProfile = new QWebEngineProfile();
    QWebEngineCookieStore* store = m_pProfile->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, this,
                     [this](const QNetworkCookie& cookie) { m_cookies.Add(cookie); });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, this,
                     [this](const QNetworkCookie& cookie) { m_cookies.Remove(cookie); });
    m_pPage = new QWebEnginePage(m_pProfile);
    setPage(m_pPage);
}

CWebBrowser2::~CWebBrowser2() {
    // The page goes before its profile, which the engine requires.
    delete m_pPage;
    m_pPage = nullptr;
    delete m_pProfile;
    m_pProfile = nullptr;
}

void CWebBrowser2::Navigate(const std::u16string& url) {
    load(QUrl(QString::fromStdU16String(url)));
}

std::u16string CWebBrowser2::GetLocationURL() const {
    return url().toString().toStdU16String();
}

bool CWebBrowser2::GetCookie(const char16_t* url, const char16_t* name, char16_t* buffer,
                             std::size_t cap) const {
    return m_cookies.GetCookie(url, name, buffer, cap);
}
