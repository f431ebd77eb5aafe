// The embedded web browser of the partner login: a web view with a private, in-memory
// profile (nothing is read from or left on disk, so one sign-in never sees another's
// cookies) whose cookie store is collected as the pages set cookies.
#pragma once

#include "ui/partner/browser_cookies.h"

#include <QWebEngineView>

#include <cstddef>
#include <string>

class QWebEngineProfile;
class QWebEnginePage;

class CWebBrowser2 : public QWebEngineView {
public:
    explicit CWebBrowser2(QWidget* parent = nullptr);
    ~CWebBrowser2() override;

    // Starts loading `url`.
    void Navigate(const std::u16string& url);
    // The address of the page shown (empty before the first navigation).
    std::u16string GetLocationURL() const;

    // The cookie `name` for `url` as "name=value", HTTP-only cookies included; see
    // CBrowserCookies::GetCookie.
    bool GetCookie(const char16_t* url, const char16_t* name, char16_t* buffer,
                   std::size_t cap) const;
    const CBrowserCookies& Cookies() const { return m_cookies; }

private:
    QWebEngineProfile* m_pProfile = nullptr;
    QWebEnginePage* m_pPage = nullptr;
    CBrowserCookies m_cookies;
};

// The browser engine refuses to start as root with its sandbox on; for root (only) the
// sandbox is switched off before the first browser is made.
void PrepareBrowserEngine();
