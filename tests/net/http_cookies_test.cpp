// The cookie jar: attribute names compared exactly, domain keys and matching, deletion by
// max-age 0 and old dates, and the standard-output lines.
#include <gtest/gtest.h>

#include "net/http_cookies.h"
#include "net/http_message.h"

namespace {

constexpr std::int64_t kNow = 1700000000; // 2023-11-14

struct Jar : HttpCookieJar {
    Jar() {
        SetClock([] { return kNow; });
    }
    std::string Header(const char* host, const char* dir, bool secure = false) {
        return CookieHeaderFor(host, dir, secure).value_or("<none>");
    }
};

TEST(HttpCookies, DomainKeys) {
    EXPECT_EQ(CookieDomainKey("x.y.z"), "y.z");
    EXPECT_EQ(CookieDomainKey("a.b.c.d.e"), "d.e");
    EXPECT_EQ(CookieDomainKey("y.z"), "y.z");
    EXPECT_EQ(CookieDomainKey("localhost"), "localhost");
    EXPECT_EQ(CookieDomainKey("10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(CookieDomainKey("1.2.3.4.5"), "4.5"); // five groups: not an address
    EXPECT_EQ(CookieDomainKey(""), "");
}

TEST(HttpCookies, TwoPairsShareAttributes) {
    Jar jar;
    jar.StoreCookie("a=1; b=2; path=/p/", "/", "www.qumo.test");
    auto list = jar.CookiesFor("www.qumo.test");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "a");
    EXPECT_EQ(list[1].name, "b");
    EXPECT_EQ(list[1].value, "2");
    EXPECT_EQ(list[0].path, "/p/");
    EXPECT_EQ(list[1].path, "/p/");
    EXPECT_EQ(list[1].domain, "www.qumo.test");
    EXPECT_EQ(jar.Header("www.qumo.test", "/p/q/"), "a=1; b=2");
    EXPECT_EQ(jar.Header("www.qumo.test", "/"), "<none>");
}

TEST(HttpCookies, AttributeNamesAreCaseSensitive) {
    Jar jar;
    jar.StoreCookie("a=1; Path=/x/", "/d/", "h.test");
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "a");
    EXPECT_EQ(list[0].path, "/d/"); // the default path
    EXPECT_EQ(list[1].name, "Path");
    EXPECT_EQ(list[1].value, "/x/");
}

TEST(HttpCookies, MaxAgeZeroDeletes) {
    Jar jar;
    jar.StoreCookie("a=1; path=/", "/", "h.test");
    jar.StoreCookie("b=2; path=/", "/", "h.test");
    jar.StoreCookie("a=1; max-age=0", "/x/", "h.test"); // "/" is a prefix of "/x/"
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "b");
    // A deletion for a path the cookie's path is no prefix of leaves it.
    jar.StoreCookie("b=; max-age=0; path=/", "/", "other.h.test");
    EXPECT_EQ(jar.CookiesFor("h.test").size(), 1u); // other domain
}

TEST(HttpCookies, MaxAgeSetsExpiry) {
    Jar jar;
    jar.StoreCookie("a=1; max-age=3600", "/", "h.test");
    jar.StoreCookie("b=1; max-age=-1", "/", "h.test");
    jar.StoreCookie("c=1; max-age=junk", "/", "h.test");
    jar.StoreCookie("d=1; max-age=1e300", "/", "h.test");
    jar.StoreCookie("e=1; max-age=-50", "/", "h.test");
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].expires, kNow + 3600);
    EXPECT_EQ(list[1].expires, 0);
    EXPECT_EQ(list[2].expires, 0);
    EXPECT_GT(list[3].expires, kNow);
    EXPECT_EQ(jar.Header("h.test", "/"), "a=1; b=1; c=1; d=1"); // e already expired
}

TEST(HttpCookies, ExpiryDates) {
    Jar jar;
    testing::internal::CaptureStdout();
    jar.StoreCookie("a=1; expires=Wed, 09-Jun-2038 10:18:14 GMT", "/", "h.test");
    jar.StoreCookie("b=1; expires=Wed, 09-Jun-38 10:18:14 GMT", "/", "h.test");
    jar.StoreCookie("c=1; expires=Wed, 09 Jun 2038 10:18:14 GMT", "/", "h.test");
    jar.StoreCookie("d=1; expires=Thu, 01-Jan-1970 00:00:01 GMT", "/", "h.test");
    jar.StoreCookie("e=1; expires=Fri, 01-Jan-99 00:00:00 GMT", "/", "h.test");
    std::string out = testing::internal::GetCapturedStdout();
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].expires, 2159691494);
    EXPECT_EQ(list[1].name, "b");
    EXPECT_EQ(list[1].expires, 2159691494);
    EXPECT_EQ(out, "OLD DATE: Wed, 09 Jun 2038 10:18:14 GMT\n"
                   "OLD DATE: Thu, 01-Jan-1970 00:00:01 GMT\n"
                   "OLD DATE: Fri, 01-Jan-99 00:00:00 GMT\n");
}

TEST(HttpCookies, OldDateDeletesEarlierCookie) {
    Jar jar;
    jar.StoreCookie("a=1", "/", "h.test");
    jar.StoreCookie("a=; expires=Thu, 01-Jan-1970 00:00:00 GMT", "/", "h.test");
    EXPECT_TRUE(jar.CookiesFor("h.test").empty());
}

TEST(HttpCookies, DomainAttribute) {
    Jar jar;
    jar.StoreCookie("a=1; domain=.qumo.test", "/", "www.qumo.test");
    jar.StoreCookie("b=1; domain=evil.test", "/", "www.qumo.test");  // another site: dropped
    jar.StoreCookie("c=1; domain=.test", "/", "www.qumo.test");      // no inner dot
    jar.StoreCookie("d=1; domain=.qumo.test", "/", "a.b.qumo.test"); // dot before the suffix
    jar.StoreCookie("e=1; domain=WWW.QUMO.TEST", "/", "www.qumo.test");
    jar.StoreCookie("f=1; domain=10.0.0.1", "/", "10.0.0.1");
    jar.StoreCookie("g=1; domain=10.0.0.2", "/", "10.0.0.1");
    auto list = jar.CookiesFor("qumo.test");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "a");
    EXPECT_EQ(list[0].domain, ".qumo.test");
    EXPECT_EQ(list[1].name, "e");
    EXPECT_EQ(jar.Header("img.qumo.test", "/"), "a=1");
    EXPECT_EQ(jar.Header("www.qumo.test", "/"), "a=1; e=1");
    EXPECT_EQ(jar.Header("10.0.0.1", "/"), "f=1");
}

TEST(HttpCookies, HostCookieNotSentToSibling) {
    Jar jar;
    jar.StoreCookie("a=1", "/", "x.y.z");
    auto list = jar.CookiesFor("w.y.z"); // same list
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].domain, "x.y.z");
    EXPECT_EQ(jar.Header("w.y.z", "/"), "<none>");
    EXPECT_EQ(jar.Header("x.y.z", "/"), "a=1");
}

TEST(HttpCookies, SecureStoredButNotSent) {
    Jar jar;
    testing::internal::CaptureStdout();
    jar.StoreCookie("a=1; secure; HttpOnly; weird", "/", "h.test");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Ignored Unknown Cookie Flag: weird\n");
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].secure);
    EXPECT_TRUE(list[0].httponly);
    EXPECT_EQ(jar.Header("h.test", "/"), "<none>");
    EXPECT_EQ(jar.Header("h.test", "/", true), "a=1");
}

TEST(HttpCookies, SameCookieReplacedOtherwiseAppended) {
    Jar jar;
    jar.StoreCookie("a=1", "/", "h.test");
    jar.StoreCookie("a=2", "/", "h.test");
    jar.StoreCookie("a=3; secure", "/", "h.test");
    jar.StoreCookie("a=4; path=/x/", "/", "h.test");
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].value, "2");
    EXPECT_EQ(jar.Header("h.test", "/x/y/"), "a=2; a=4");
}

TEST(HttpCookies, TokensTrimmedAndEmptyOnesSkipped) {
    Jar jar;
    jar.StoreCookie(" ;  a=1 ;; path=/q/ ; ", "/", "h.test");
    auto list = jar.CookiesFor("h.test");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].value, "1");
    EXPECT_EQ(list[0].path, "/q/");
}

TEST(HttpCookies, StoreCookiesTakesEveryLine) {
    Jar jar;
    HttpMessage m;
    m.header = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX: y\r\nset-cookie:b=2\r\n\r\n";
    testing::internal::CaptureStdout();
    jar.StoreCookies(m, "/", "h.test");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Extraido: a=1\nExtraido: b=2\n");
    EXPECT_EQ(jar.Header("h.test", "/"), "a=1; b=2");
}

} // namespace
