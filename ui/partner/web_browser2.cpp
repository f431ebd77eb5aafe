#include "ui/partner/web_browser2.h"

#include "base/log.h"
#include "ui/partner/partner_trust.h"

#include <QNetworkCookie>
#include <QUrl>
#include <QWebEngineCertificateError>
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
    // A certificate the engine refuses is accepted only from the partner host with the
    // configured CA; the user is never asked to judge one.
    QObject::connect(
        m_pPage, &QWebEnginePage::certificateError, this,
        [](const QWebEngineCertificateError& error) {
            QWebEngineCertificateError answer = error;
            std::string why;
            if (PartnerCertificateTrusted(error.url(), error.certificateChain(), why)) {
                answer.acceptCertificate();
                return;
            }
            const std::u16string url = error.url().toString().toStdU16String();
            const std::u16string reason = QString::fromStdString(why).toStdU16String();
            LogError(u"Refused the certificate of %s: %s", url.c_str(), reason.c_str());
            answer.rejectCertificate();
        });
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
