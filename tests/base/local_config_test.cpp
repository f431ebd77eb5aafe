#include "base/local_config.h"

#include "platform/codepage.h"
#include "platform/lasterror.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class LocalConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qumo_lc_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        path = platform::FromNarrow((dir / "QumolanLocalConfig.xml").string());
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void Put(const std::string& bytes) {
        std::ofstream(platform::ToNarrow(path), std::ios::binary) << bytes;
    }
    fs::path dir;
    std::u16string path;
};

} // namespace

TEST_F(LocalConfigTest, ReadsTheFourValuesTrimmed) {
    Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Config>\r\n"
        "\t<UserName>  \xe5\xb0\x8f\xe6\x98\x8e \t</UserName>\r\n"
        "\t<UserPwd>cHc=</UserPwd>\r\n\t<AutoLogin>TRUE</AutoLogin>\r\n"
        "\t<Version>1.0.3</Version>\r\n</Config>");
    LocalConfigValues v;
    ASSERT_TRUE(ReadLocalConfig(path, v));
    EXPECT_EQ(v.userName, u"小明");
    EXPECT_EQ(v.userPwd, u"cHc=");
    EXPECT_EQ(v.autoLogin, u"TRUE");
    EXPECT_TRUE(IsAutoLoginValue(v.autoLogin));
    EXPECT_EQ(v.version, u"1.0.3");
}

TEST_F(LocalConfigTest, MissingElementsReadEmptyAndAreNeverCreated) {
    Put("<Anything><UserName>a</UserName><AutoLogin>false</AutoLogin></Anything>");
    LocalConfigValues v;
    ASSERT_TRUE(ReadLocalConfig(path, v));
    EXPECT_EQ(v.userName, u"a");
    EXPECT_EQ(v.userPwd, u"");
    EXPECT_EQ(v.version, u"");
    EXPECT_FALSE(IsAutoLoginValue(v.autoLogin));

    ASSERT_TRUE(WriteLocalConfigValues(
        path, {{u"UserName", u"bob"}, {u"UserPwd", u"eHk="}, {u"AutoLogin", u"true"}}));
    ASSERT_TRUE(ReadLocalConfig(path, v));
    EXPECT_EQ(v.userName, u"bob");
    EXPECT_EQ(v.userPwd, u""); // no such element: writing it did nothing
    EXPECT_EQ(v.autoLogin, u"true");
}

TEST_F(LocalConfigTest, ChangeOfLetterCaseAloneKeepsTheOldValue) {
    Put("<C><UserName>Bob</UserName><Version>2</Version></C>");
    ASSERT_TRUE(WriteLocalConfigValues(path, {{u"UserName", u"BOB"}}));
    LocalConfigValues v;
    ASSERT_TRUE(ReadLocalConfig(path, v));
    EXPECT_EQ(v.userName, u"Bob");
    EXPECT_EQ(v.version, u"2");
}

TEST_F(LocalConfigTest, MissingOrBrokenFileFails) {
    LocalConfigValues v;
    v.userName = u"stale";
    EXPECT_FALSE(ReadLocalConfig(path, v));
    EXPECT_EQ(platform::GetLastErrorCode(), 2);
    EXPECT_EQ(v.userName, u"");
    EXPECT_FALSE(WriteLocalConfigValues(path, {{u"UserName", u"x"}}));
    EXPECT_FALSE(fs::exists(platform::ToNarrow(path))); // never created
    Put("");
    EXPECT_FALSE(ReadLocalConfig(path, v));
}

TEST(RememberedPassword, Base64OfUtf8) {
    EXPECT_EQ(EncodeRememberedPassword(u"pw"), u"cHc=");
    EXPECT_EQ(EncodeRememberedPassword(u"密码"), u"5a+G56CB");
    EXPECT_EQ(EncodeRememberedPassword(u""), u"");
    std::u16string pw;
    EXPECT_TRUE(DecodeRememberedPassword(u"5a+G56CB", pw));
    EXPECT_EQ(pw, u"密码");
    EXPECT_FALSE(DecodeRememberedPassword(u"not base64!", pw));
    EXPECT_EQ(pw, u"");
}
