// Request URLs byte for byte, and the refusals where a buffer would overflow.
#include <gtest/gtest.h>

#include <cstring>

#include "net/api_url.h"
#include "net/hosts.h"

namespace {

class ApiUrl : public ::testing::Test {
protected:
    void SetUp() override {
        hosts::SetApi("api.test:81");
        hosts::SetUpdate("up.test");
    }
    void TearDown() override {
        hosts::SetApi("127.0.0.1:8410");
        hosts::SetUpdate("127.0.0.1:8410");
    }
};

TEST_F(ApiUrl, LoginTrimsAndDigestsThePassword) {
    char url[256];
    std::memset(url, 'X', sizeof url);
    ASSERT_TRUE(api_url::Login(u"  13800000000\t", u" abc \r\n", url));
    EXPECT_STREQ(url, "http://api.test:81/mobilelogin.json?mobile=13800000000"
                      "&pwd=900150983cd24fb0d6963f7d28e17f72");
    // The account is sent as typed (no escaping), as UTF-8 bytes.
    ASSERT_TRUE(api_url::Login(u"a&b 中", u"", url));
    EXPECT_STREQ(url, "http://api.test:81/mobilelogin.json?mobile=a&b \xE4\xB8\xAD"
                      "&pwd=d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(ApiUrl, PasswordDigestLimitIs255Bytes) {
    std::string hex;
    EXPECT_TRUE(api_url::PasswordDigest(std::u16string(255, u'p'), hex));
    EXPECT_EQ(hex.size(), 32u);
    EXPECT_FALSE(api_url::PasswordDigest(std::u16string(256, u'p'), hex));
    // 86 Chinese characters are 258 bytes.
    EXPECT_FALSE(api_url::PasswordDigest(std::u16string(86, u'中'), hex));
    EXPECT_TRUE(api_url::PasswordDigest(u"123456", hex));
    EXPECT_EQ(hex, "e10adc3949ba59abbe56e057f20f883e");
}

TEST_F(ApiUrl, LoginUrlLongerThan255BytesIsRefusedNotCut) {
    char url[256 + 4];
    std::memset(url, 'X', sizeof url);
    // 39 bytes of prefix, 37 of "&pwd=" and digest: 255 - 76 = 179 bytes of account fit.
    std::string prefix = "http://api.test:81/mobilelogin.json?mobile=";
    std::u16string fits(255 - prefix.size() - 37, u'1');
    ASSERT_TRUE(api_url::Login(fits, u"x", url, 256));
    EXPECT_EQ(std::strlen(url), 255u);
    std::u16string over = fits + u"1";
    EXPECT_FALSE(api_url::Login(over, u"x", url, 256));
    EXPECT_EQ(url[0], 0);
    EXPECT_EQ(url[256], 'X'); // nothing written past the buffer
}

TEST_F(ApiUrl, SpaceEscapesTheCookiesAndHandsThemBack) {
    char url[1024];
    std::string u, t;
    ASSERT_TRUE(api_url::Space(u"12 3", u"a/b+c=中", url, sizeof url, u, t));
    EXPECT_EQ(u, "12+3");
    EXPECT_EQ(t, "a%2Fb%2Bc%3D%E4%B8%AD");
    EXPECT_STREQ(url, "http://api.test:81/getspace.json?uid=12+3&token=a%2Fb%2Bc%3D%E4%B8%AD");
    // Each escaped value may take at most 259 bytes.
    EXPECT_TRUE(api_url::Space(std::u16string(259, u'a'), u"t", url, sizeof url, u, t));
    EXPECT_FALSE(api_url::Space(std::u16string(87, u'/'), u"t", url, sizeof url, u, t));
    EXPECT_EQ(url[0], 0);
}

TEST_F(ApiUrl, FolderListAndFileListInsertAccountBytesUnchanged) {
    char url[520];
    ASSERT_TRUE(api_url::FolderList("1001", "tok%2F", url, 256));
    EXPECT_STREQ(url,
                 "http://api.test:81/getfs.json?uid=1001&token=tok%2F&client=PC&pname=1.000.01");
    std::string longToken(200, 't');
    EXPECT_FALSE(api_url::FolderList("1001", longToken.c_str(), url, 256));
    EXPECT_TRUE(api_url::FolderList("1001", longToken.c_str(), url, 520));
    char big[1024];
    ASSERT_TRUE(api_url::FileList("1001", "tok", -1, 17, 30, big));
    EXPECT_STREQ(
        big, "http://api.test:81/getfilesforpc.json?uid=1001&token=tok&mid=-1&folderid=17&num=30");
    EXPECT_FALSE(api_url::FileList(nullptr, "tok", -1, 17, 30, big));
}

TEST_F(ApiUrl, VersionIsTrimmedAndOnTheUpdateHost) {
    char url[256];
    ASSERT_TRUE(api_url::Version(u" 1.0.0.3 ", url));
    EXPECT_STREQ(url, "http://up.test/packagemanager/versionupdateinfo.json?version=1.0.0.3");
    EXPECT_FALSE(api_url::Version(std::u16string(300, u'9'), url));
    EXPECT_EQ(url[0], 0);
}

TEST(Hosts, DefaultsPointAtTheLocalService) {
    EXPECT_EQ(hosts::Website(), "www.qumo.localhost:8410");
    EXPECT_EQ(hosts::PartnerLogin(), "open.qumo.localhost:8410");
    EXPECT_EQ(hosts::Picture(), "127.0.0.1:8410");
    hosts::SetAllServiceHosts("127.0.0.1:1");
    EXPECT_EQ(hosts::Api(), "127.0.0.1:1");
    EXPECT_EQ(hosts::VideoThumb(), "127.0.0.1:1");
    EXPECT_EQ(hosts::Website(), "www.qumo.localhost:8410");
    hosts::SetAllServiceHosts("127.0.0.1:8410");
}

} // namespace
