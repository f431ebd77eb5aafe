// The partner window over TLS against qumo-service with its demo CA: the page of the
// partner host loads when that CA is the configured extra CA; the same CA's certificate on
// another host (the website) is refused, and so is the partner host without the CA.
#include "../0support/service_process.h"
#include "net/hosts.h"
#include "net/net_link.h"
#include "ui/partner/web_browser2.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

namespace {

// Loads `url` in a fresh window (the engine keeps what it accepted per window); true when the
// page loaded, with its title.
bool Load(const std::string& url, QString& title) {
    auto browser = std::make_unique<CWebBrowser2>();
    QSignalSpy done(browser.get(), &QWebEngineView::loadFinished);
    browser->Navigate(QString::fromStdString(url).toStdU16String());
    if (!done.wait(60000))
        return false;
    title = browser->title();
    return done.takeFirst().at(0).toBool();
}

TEST(PartnerTls, ExtraCaIsTrustedForThePartnerHostOnly) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--tls"})) << svc.Error();
    const std::string port = std::to_string(svc.ApiPort());
    hosts::SetPartnerLogin("https://open.qumo.localhost:" + port);
    net::SetExtraCaFile(svc.DataDir() + "/tls/ca.pem");
    QString title;

    EXPECT_TRUE(Load("https://open.qumo.localhost:" + port + "/about/aboutus", title));
    EXPECT_EQ(title, QString::fromUtf8("关于我们"));

    // The certificate names the website too and comes from the same CA: still refused there.
    EXPECT_FALSE(Load("https://www.qumo.localhost:" + port + "/about/aboutus", title));

    net::SetExtraCaFile("");
    EXPECT_FALSE(Load("https://open.qumo.localhost:" + port + "/about/aboutus", title));
}

} // namespace
