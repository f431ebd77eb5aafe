#include "ui/partner/third_user_login.h"

#include "base/log.h"
#include "net/hosts.h"
#include "ui/partner/browser_cookies.h"
#include "ui/partner/web_browser2.h"
#include "ui/skin/du_screen_fit.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QTimerEvent>
#include <QVBoxLayout>

#include <memory>

namespace {

std::u16string Widen(const std::string& ascii) {
    return QString::fromStdString(ascii).toStdU16String();
}

} // namespace

CThirdUserLogin::CThirdUserLogin(QWidget* parent, std::u16string startUrl, int kind)
    : QDialog(parent), m_strStartUrl(std::move(startUrl)), m_nKind(kind) {
    setWindowTitle(QStringLiteral("酷摩岚第三方登录"));
    setObjectName(QStringLiteral("thirduserlogin_win"));
    setModal(true);
    resize(kTemplateWidth, kTemplateHeight);

    m_pBrowser = new CWebBrowser2(this);
    m_pBrowser->setObjectName(QStringLiteral("browser_%1").arg(kBrowserId));
    // Where the template puts the control; the start stretches it over the client area.
    m_pBrowser->setGeometry(10, 11, 815, 475);
}

CThirdUserLogin::~CThirdUserLogin() {
    StopWatchTimer();
}

CWebBrowser2* CThirdUserLogin::Browser() const {
    return m_pBrowser.data();
}

int CThirdUserLogin::DoModal() {
    if (!OnInitDialog()) {
        return QDialog::Rejected;
    }
    return exec();
}

bool CThirdUserLogin::OnInitDialog() {
    const QIcon icon(QStringLiteral(":/res/qumo.png"));
    if (!icon.isNull()) {
        setWindowIcon(icon);
    }
    if (!m_strStartUrl.empty() && m_pBrowser) {
        m_pBrowser->Navigate(m_strStartUrl);
    }

    int width = kTemplateWidth;
    int height = kTemplateHeight;
    if (m_nKind == kKindQqBlog) {
        height += 200;
    } else {
        width -= 200;
        height -= 100;
    }
    resize(width, height);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width / 2, height / 2));
    }
    // Not larger than the screen, its caption on it.
    DuKeepOnScreen(this, minimumSize(), maximumSize(), false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (m_pBrowser) {
        layout->addWidget(m_pBrowser);
    }

    StopWatchTimer();
    m_nTimer = startTimer(kWatchPeriodMs, Qt::PreciseTimer);
    return true;
}

std::u16string CThirdUserLogin::CompletionAddress() {
    return Widen(hosts::WebsiteBase()) + u"/";
}

std::u16string CThirdUserLogin::CookieOrigin() {
    // The website's scheme, with the parent domain of its host.
    const std::string base = hosts::WebsiteBase();
    const std::size_t start = base.find("://") + 3;
    const std::string site = base.substr(start);
    const std::size_t dot = site.find('.');
    return Widen(base.substr(0, start) + (dot == std::string::npos ? site : site.substr(dot + 1)));
}

void CThirdUserLogin::StopWatchTimer() {
    if (m_nTimer != 0) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
}

void CThirdUserLogin::done(int result) {
    StopWatchTimer();
    QDialog::done(result);
}

void CThirdUserLogin::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_nTimer && m_nTimer != 0) {
        OnWatchTimer();
        return;
    }
    QDialog::timerEvent(event);
}

void CThirdUserLogin::OnWatchTimer() {
    if (!m_pBrowser) {
        return;
    }
    const QString location = QString::fromStdU16String(m_pBrowser->GetLocationURL()).trimmed();
    const QString home = QString::fromStdU16String(CompletionAddress());
    if (location.compare(home, Qt::CaseInsensitive) != 0) {
        return; // still signing in
    }
    if (ReadQumoCookie()) {
        accept();
        return;
    }
    LogError(u"fail to Read IE QumoCookie in ThirdUserLogin");
}

bool CThirdUserLogin::ReadQumoCookie() {
    if (!m_pBrowser) {
        return false;
    }
    const std::u16string origin = CookieOrigin();
    // Each text gets the room the cookie store's callers have always given it.
    auto buffer = std::make_unique<char16_t[]>(CBrowserCookies::kCookieTextCap);
    std::u16string* const values[] = {&m_strUid, &m_strUtoken};
    const char16_t* const names[] = {u"uid", u"utoken"};
    for (int i = 0; i < 2; ++i) {
        if (m_pBrowser->GetCookie(origin.c_str(), names[i], buffer.get(),
                                  CBrowserCookies::kCookieTextCap)) {
            *values[i] = CookieTextValue(buffer.get());
        }
    }
    if (m_strUid.empty() || m_strUtoken.empty()) {
        return false;
    }
    m_nSucceeded = 1;
    return true;
}
