// The cookies of the partner sign-in browser: which cookie a request to the cookie origin
// would carry, the room a cookie text gets, and the value taken from a cookie text.
#include "ui/partner/browser_cookies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

QNetworkCookie MakeCookie(const char* name, const std::string& value, const char* domain,
                          const char* path = "/", bool httpOnly = false, bool secure = false) {
    QNetworkCookie c(QByteArray(name), QByteArray::fromStdString(value));
    c.setDomain(QString::fromLatin1(domain));
    c.setPath(QString::fromLatin1(path));
    c.setHttpOnly(httpOnly);
    c.setSecure(secure);
    return c;
}

std::u16string Get(const CBrowserCookies& jar, const char16_t* url, const char16_t* name,
                   bool* found = nullptr) {
    std::vector<char16_t> buffer(CBrowserCookies::kCookieTextCap, u'#');
    const bool ok = jar.GetCookie(url, name, buffer.data(), buffer.size());
    if (found) {
        *found = ok;
    }
    EXPECT_TRUE(ok || buffer[0] == 0) << "a failed lookup leaves the buffer empty";
    return ok ? std::u16string(buffer.data()) : std::u16string();
}

const char16_t* const kOrigin = u"http://qumo.localhost:8410";

} // namespace

TEST(CookieTextValue, TakesEverythingAfterTheFirstEqualsSignOrTheWholeText) {
    EXPECT_EQ(CookieTextValue(u"uid=1234"), u"1234");
    EXPECT_EQ(CookieTextValue(u" \t uid=1234 \r\n"), u"1234");
    EXPECT_EQ(CookieTextValue(u"utoken=a=b=="), u"a=b==");
    EXPECT_EQ(CookieTextValue(u"uid="), u"");
    EXPECT_EQ(CookieTextValue(u"=5"), u"5");
    // Without "=" the text is taken whole (trimmed).
    EXPECT_EQ(CookieTextValue(u"  1234abc "), u"1234abc");
    EXPECT_EQ(CookieTextValue(u""), u"");
    EXPECT_EQ(CookieTextValue(u"   "), u"");
    EXPECT_EQ(CookieTextValue(u"名字=酷摩"), u"酷摩");
}

TEST(BrowserCookies, DomainCookiesReachTheBareDomainAndHostOnlyCookiesTheirHostAlone) {
    CBrowserCookies jar;
    jar.Add(MakeCookie("uid", "100002", ".qumo.localhost"));
    jar.Add(MakeCookie("utoken", "abc", ".qumo.localhost", "/", true)); // HTTP-only too
    jar.Add(MakeCookie("site", "1", "www.qumo.localhost"));             // host-only
    EXPECT_EQ(Get(jar, kOrigin, u"uid"), u"uid=100002");
    EXPECT_EQ(Get(jar, kOrigin, u"utoken"), u"utoken=abc");
    EXPECT_EQ(Get(jar, u"http://www.qumo.localhost:8410/", u"uid"), u"uid=100002");
    EXPECT_EQ(Get(jar, u"http://WWW.Qumo.Localhost:8410/", u"site"), u"site=1");

    bool found = true;
    EXPECT_EQ(Get(jar, kOrigin, u"site", &found), u"");
    EXPECT_FALSE(found) << "a host-only cookie of www is not the bare domain's";
    Get(jar, u"http://evilqumo.localhost/", u"uid", &found);
    EXPECT_FALSE(found) << "a suffix that is not a whole label does not match";
    Get(jar, u"http://localhost/", u"uid", &found);
    EXPECT_FALSE(found);
    Get(jar, kOrigin, u"ui", &found);
    EXPECT_FALSE(found) << "names compare whole";
    Get(jar, kOrigin, u"UID", &found);
    EXPECT_FALSE(found) << "names compare with case";
    Get(jar, u"not a url", u"uid", &found);
    EXPECT_FALSE(found);
    Get(jar, nullptr, u"uid", &found);
    EXPECT_FALSE(found);
    Get(jar, kOrigin, u"", &found);
    EXPECT_FALSE(found);
}

TEST(BrowserCookies, PathAndSecureCookiesAreNotSentToThePlainOrigin) {
    CBrowserCookies jar;
    jar.Add(MakeCookie("uid", "1", ".qumo.localhost", "/account"));
    jar.Add(MakeCookie("utoken", "2", ".qumo.localhost", "/", false, true));
    bool found = true;
    Get(jar, kOrigin, u"uid", &found);
    EXPECT_FALSE(found);
    Get(jar, kOrigin, u"utoken", &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(Get(jar, u"http://qumo.localhost/account/x", u"uid"), u"uid=1");
    Get(jar, u"http://qumo.localhost/accounts", u"uid", &found);
    EXPECT_FALSE(found) << "a path prefix must end at a segment";
    EXPECT_EQ(Get(jar, u"https://qumo.localhost/", u"utoken"), u"utoken=2");
}

TEST(BrowserCookies, ALaterSettingReplacesTheCookieAndARemovalForgetsIt) {
    CBrowserCookies jar;
    jar.Add(MakeCookie("uid", "1", ".qumo.localhost"));
    jar.Add(MakeCookie("uid", "2", ".QUMO.localhost"));
    EXPECT_EQ(jar.Count(), 1u);
    EXPECT_EQ(Get(jar, kOrigin, u"uid"), u"uid=2");

    // Another path is another cookie; the one set last answers.
    jar.Add(MakeCookie("uid", "3", ".qumo.localhost", "/"));
    jar.Add(MakeCookie("uid", "4", "qumo.localhost", "/"));
    EXPECT_EQ(jar.Count(), 2u);
    EXPECT_EQ(Get(jar, kOrigin, u"uid"), u"uid=4");
    jar.Remove(MakeCookie("uid", "", "qumo.localhost", "/"));
    EXPECT_EQ(Get(jar, kOrigin, u"uid"), u"uid=3");
    jar.Remove(MakeCookie("uid", "", ".qumo.localhost", "/"));
    bool found = true;
    Get(jar, kOrigin, u"uid", &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(jar.Count(), 0u);
}

TEST(BrowserCookies, ATextThatDoesNotFitIsRefusedAndNothingIsWrittenPastTheBuffer) {
    CBrowserCookies jar;
    // "uid=" + value + terminator fills the buffer exactly.
    const std::size_t cap = CBrowserCookies::kCookieTextCap;
    const std::string fits(cap - 5, '7');
    jar.Add(MakeCookie("uid", fits, ".qumo.localhost"));
    jar.Add(MakeCookie("utoken", fits + "8", ".qumo.localhost"));

    std::vector<char16_t> buffer(cap + 8, u'#');
    ASSERT_TRUE(jar.GetCookie(kOrigin, u"uid", buffer.data(), cap));
    EXPECT_EQ(std::u16string(buffer.data()).size(), cap - 1);
    EXPECT_EQ(buffer[cap - 1], 0);
    EXPECT_EQ(buffer[cap], u'#');

    std::fill(buffer.begin(), buffer.end(), u'#');
    EXPECT_FALSE(jar.GetCookie(kOrigin, u"utoken", buffer.data(), cap));
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u'#') << "a refused text is not partly copied";

    // A tiny buffer holds a short cookie or nothing at all.
    jar.Add(MakeCookie("a", "1", ".qumo.localhost"));
    char16_t small[4] = {u'#', u'#', u'#', u'#'};
    ASSERT_TRUE(jar.GetCookie(kOrigin, u"a", small, 4));
    EXPECT_EQ(std::u16string(small), u"a=1");
    EXPECT_FALSE(jar.GetCookie(kOrigin, u"a", small, 3));
    EXPECT_FALSE(jar.GetCookie(kOrigin, u"a", small, 0));
    EXPECT_FALSE(jar.GetCookie(kOrigin, u"a", nullptr, 10));
}

TEST(BrowserCookies, UnicodeValuesComeBackAsUtf16) {
    CBrowserCookies jar;
    jar.Add(MakeCookie("nick", "\xe9\x85\xb7\xe6\x91\xa9", ".qumo.localhost"));
    EXPECT_EQ(Get(jar, kOrigin, u"nick"), u"nick=酷摩");
}
