// The partner sign-in window: the partner's pages in an embedded browser, watched until
// the browser comes back to the website's home page with the login cookies "uid" and
// "utoken" set. The caller reads m_nSucceeded, m_strUid and m_strUtoken after the run.
#pragma once

#include <QDialog>
#include <QPointer>

#include <string>

class CWebBrowser2;

class CThirdUserLogin : public QDialog {
public:
    // The template's client area in pixels: 557 x 306 dialog units at 1.5 pixels per
    // horizontal and 1.625 pixels per vertical unit (the usual dialog font's units).
    static constexpr int kTemplateWidth = 835;
    static constexpr int kTemplateHeight = 497;
    static constexpr int kBrowserId = 1002;
    // The timer that watches the browser's address.
    static constexpr int kWatchTimerId = 201205;
    static constexpr int kWatchPeriodMs = 30;
    // Partner kinds; Tencent Weibo's pages want a taller window.
    static constexpr int kKindQq = 0;
    static constexpr int kKindSina = 1;
    static constexpr int kKindRenren = 2;
    static constexpr int kKindQqBlog = 3;

    CThirdUserLogin(QWidget* parent, std::u16string startUrl, int kind);
    ~CThirdUserLogin() override;

    // Starts the window and runs it modally.
    int DoModal();
    // The start before the window is shown: icons, navigation, size, the watch timer.
    bool OnInitDialog();

    // "http://" + website host + "/": the page that ends a partner sign-in.
    static std::u16string CompletionAddress();
    // "http://" + the website host without its first label: where the cookies live.
    static std::u16string CookieOrigin();

    // Reads "uid" and "utoken" from the browser's cookies; true (and m_nSucceeded 1) only
    // when both are non-empty.
    bool ReadQumoCookie();

    CWebBrowser2* Browser() const;
    bool TimerRunning() const { return m_nTimer != 0; }

    std::u16string m_strStartUrl;
    int m_nKind = 0;
    std::u16string m_strUid;
    std::u16string m_strUtoken;
    int m_nSucceeded = 0;

    // Ends the run (the close button, Escape or a completed sign-in); the watch stops.
    void done(int result) override;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void OnWatchTimer();
    void StopWatchTimer();

    QPointer<CWebBrowser2> m_pBrowser;
    int m_nTimer = 0; // the platform's id of the watch timer
};
