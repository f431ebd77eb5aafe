// Drives the partner sign-in window of the tests while its modal run is under way: records
// every window that appears, then either closes it or fills the partner's form and submits
// it through the page, like a user. A window still open after the time limit is closed
// (and counted), so a broken sign-in fails the test instead of hanging it.
#pragma once

#include "ui/partner/third_user_login.h"
#include "ui/partner/web_browser2.h"

#include <QApplication>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <QWebEnginePage>

#include <string>
#include <vector>

namespace partnertest {

struct SeenWindow {
    std::u16string startUrl;
    int kind = -1;
    QSize size;
    QString title;
};

class PartnerWindowDriver : public QObject {
public:
    enum class Action { Close, SignIn };

    explicit PartnerWindowDriver(Action action, std::string account = {}, std::string password = {},
                                 int limitMs = 30000)
        : m_action(action), m_account(std::move(account)), m_password(std::move(password)),
          m_limitMs(limitMs) {
        qApp->installEventFilter(this);
    }
    ~PartnerWindowDriver() override { qApp->removeEventFilter(this); }

    const std::vector<SeenWindow>& Seen() const { return m_seen; }
    int TimedOut() const { return m_timedOut; }
    int Submitted() const { return m_submitted; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) {
            return false;
        }
        auto* window = dynamic_cast<CThirdUserLogin*>(watched);
        if (!window || window->property("partnertest_seen").toBool()) {
            return false;
        }
        window->setProperty("partnertest_seen", true);
        m_seen.push_back(
            {window->m_strStartUrl, window->m_nKind, window->size(), window->windowTitle()});
        QPointer<CThirdUserLogin> guard(window);
        QTimer::singleShot(m_limitMs, window, [this, guard]() {
            if (guard) {
                ++m_timedOut;
                guard->close();
            }
        });
        if (m_action == Action::Close) {
            QTimer::singleShot(0, window, [guard]() {
                if (guard) {
                    guard->close();
                }
            });
            return false;
        }
        CWebBrowser2* browser = window->Browser();
        QObject::connect(browser, &QWebEngineView::loadFinished, window, [this, guard](bool) {
            if (guard && guard->Browser()) {
                Submit(guard->Browser());
            }
        });
        return false;
    }

private:
    static QString JsText(const std::string& s) {
        QString t = QString::fromStdString(s);
        t.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
        return QStringLiteral("'") + t + QStringLiteral("'");
    }

    // Fills and submits the form when the page shows one (the home page has none).
    void Submit(CWebBrowser2* browser) {
        const QString script = QStringLiteral("(function() { var f = document.forms[0];"
                                              " if (!f || !f.account) return false;"
                                              " f.account.value = %1; f.password.value = %2;"
                                              " f.submit(); return true; })()")
                                   .arg(JsText(m_account), JsText(m_password));
        browser->page()->runJavaScript(script, [this](const QVariant& done) {
            if (done.toBool()) {
                ++m_submitted;
            }
        });
    }

    Action m_action;
    std::string m_account, m_password;
    int m_limitMs;
    std::vector<SeenWindow> m_seen;
    int m_timedOut = 0;
    int m_submitted = 0;
};

} // namespace partnertest
