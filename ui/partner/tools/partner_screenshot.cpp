// Photographs the partner sign-in window showing the Sina Weibo page of a running
// qumo-service.
//   qumo_partner_screenshot <service port> <output PNG>
// Run through scripts/screenshot-partner.
#include "net/hosts.h"
#include "ui/partner/partner_login.h"
#include "ui/partner/third_user_login.h"
#include "ui/partner/web_browser2.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWebEnginePage>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qumo_partner_screenshot <service port> <output PNG>\n");
        return 2;
    }
    PrepareBrowserEngine();
    QApplication app(argc, argv);
    const std::string port = argv[1];
    hosts::SetWebsite("www.qumo.localhost:" + port);
    hosts::SetPartnerLogin("open.qumo.localhost:" + port);

    const PartnerInfo* sina = PartnerForButton(u"btn_loginwin_sinablog");
    CThirdUserLogin window(nullptr, PartnerPageUrl(*sina), sina->kind);
    window.OnInitDialog();
    window.show();

    QEventLoop loop;
    bool loaded = false;
    QObject::connect(window.Browser(), &QWebEngineView::loadFinished, &loop, [&](bool ok) {
        loaded = ok;
        // A user half-way through signing in.
        window.Browser()->page()->runJavaScript(
            "document.querySelector('input[name=account]').value = 'weibo_user';"
            "document.querySelector('input[name=password]').value = 'secret';",
            [&](const QVariant&) { QTimer::singleShot(300, &loop, &QEventLoop::quit); });
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!loaded) {
        std::fprintf(stderr, "the partner page did not load\n");
        return 1;
    }
    const bool ok = window.grab().save(QString::fromLocal8Bit(argv[2]), "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", argv[2]);
    return ok ? 0 : 1;
}
