// The answer envelope and the member readers must fail cleanly on every odd answer.
#include <gtest/gtest.h>

#include "net/api_answer.h"

namespace {

TEST(ApiAnswer, ReadsStatusMessageAndAttachment) {
    ApiAnswer a;
    ASSERT_EQ(ParseApiAnswer(
                  R"({"status":405,"debug":null,"message":"密码错误","attachment":{"x":1}})", a),
              AnswerParse::Ok);
    EXPECT_EQ(a.status, 405);
    EXPECT_EQ(std::u16string(a.message), u"密码错误");
    EXPECT_TRUE(a.attachment.isObject());
    int x = 0;
    EXPECT_TRUE(api_json::Int(a.attachment, "x", x));
    EXPECT_EQ(x, 1);
}

TEST(ApiAnswer, UnusableEnvelopesAreNotJson) {
    const char* bodies[] = {
        "",
        "   ",
        "not json",
        "{\"status\":200",             // cut short
        "[200]",                       // not an object
        "\"status\"",                  // a bare string
        "{}",                          // no status
        "{\"status\":null}",           // null status
        "{\"status\":\"200\"}",        // status as text
        "{\"status\":true}",           // boolean
        "{\"status\":{}}",             // object
        "{\"status\":99999999999999}", // beyond int
        "{\"status\":200.5}",          // not an integer
    };
    for (const char* b : bodies) {
        ApiAnswer a;
        a.status = 77;
        EXPECT_EQ(ParseApiAnswer(b, a), AnswerParse::NotJson) << b;
        EXPECT_EQ(a.status, 0) << b;
        EXPECT_TRUE(a.attachment.isNull()) << b;
    }
}

TEST(ApiAnswer, MessageOfWrongTypeIsEmptyAndAttachmentMayBeMissing) {
    ApiAnswer a;
    ASSERT_EQ(ParseApiAnswer(R"({"status":200,"message":12})", a), AnswerParse::Ok);
    EXPECT_EQ(a.message[0], 0);
    EXPECT_TRUE(a.attachment.isNull());
    int v = 5;
    std::string s = "keep";
    EXPECT_FALSE(api_json::Int(a.attachment, "status", v));
    EXPECT_FALSE(api_json::Text(a.attachment, "uid", s));
    EXPECT_EQ(v, 5);
}

TEST(ApiAnswer, LongMessageIsCutAtCapacityWithoutOverrun) {
    std::string msg(1000, 'a');
    ApiAnswer a;
    ASSERT_EQ(ParseApiAnswer("{\"status\":405,\"message\":\"" + msg + "\"}", a), AnswerParse::Ok);
    EXPECT_EQ(std::u16string(a.message).size(), 259u);
}

TEST(ApiJson, NumbersAreCheckedBeforeConversion) {
    Json::Value v;
    Json::Reader().parse(
        R"({"neg":-1,"big":4294967296,"u":4294967295,"s":"12","f":3.0,"n":null,"b":false})", v);
    int i = 0;
    uint32_t u = 0;
    EXPECT_FALSE(api_json::UInt(v, "neg", u));
    EXPECT_TRUE(api_json::Int(v, "neg", i));
    EXPECT_EQ(i, -1);
    EXPECT_FALSE(api_json::UInt(v, "big", u));
    EXPECT_FALSE(api_json::Int(v, "big", i));
    EXPECT_TRUE(api_json::UInt(v, "u", u));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_FALSE(api_json::Int(v, "s", i));
    EXPECT_TRUE(api_json::Int(v, "f", i));
    EXPECT_EQ(i, 3);
    EXPECT_FALSE(api_json::Int(v, "n", i));
    EXPECT_FALSE(api_json::Int(v, "b", i));
    EXPECT_FALSE(api_json::Int(v, "missing", i));
    // Not an object at all.
    EXPECT_FALSE(api_json::Int(v["s"], "x", i));
    EXPECT_FALSE(api_json::Int(Json::Value(Json::arrayValue), "x", i));
}

TEST(ApiJson, DecimalTextFollowsAtoiRules) {
    EXPECT_EQ(api_json::AtoiText("  42"), 42);
    EXPECT_EQ(api_json::AtoiText("-1"), -1);
    EXPECT_EQ(api_json::AtoiText("+7x"), 7);
    EXPECT_EQ(api_json::AtoiText("abc"), 0);
    EXPECT_EQ(api_json::AtoiText(""), 0);
    EXPECT_EQ(api_json::AtoiText("- 5"), 0);
    EXPECT_EQ(api_json::AtoiText("99999999999999999999"), 2147483647);
    EXPECT_EQ(api_json::AtoiText("-99999999999999999999"), -2147483647 - 1);
    Json::Value v;
    Json::Reader().parse(R"({"fid":"abc","parenterid":"-1","num":5})", v);
    EXPECT_EQ(api_json::AtoiMember(v, "fid"), 0);
    EXPECT_EQ(api_json::AtoiMember(v, "parenterid"), -1);
    EXPECT_EQ(api_json::AtoiMember(v, "num"), 0); // a number where text is expected
    EXPECT_EQ(api_json::AtoiMember(v, "missing"), 0);
}

TEST(ApiJson, DecodeTextKeepsCapacityAndReadsFourByteSequencesAsPairs) {
    Json::Value v;
    Json::Reader().parse("{\"s\":\"\xE4\xB8\xAD\xF0\x9F\x98\x80z\",\"long\":\"abcdefgh\",\"n\":1}",
                         v);
    char16_t buf[8];
    EXPECT_TRUE(api_json::DecodeText(v, "s", buf));
    EXPECT_EQ(std::u16string(buf), u"中😀z");
    char16_t three[3];
    EXPECT_TRUE(api_json::DecodeText(v, "s", three, 3));
    EXPECT_EQ(std::u16string(three), u"中"); // a pair is never cut in half
    char16_t small[5 + 2];
    small[5] = u'#';
    small[6] = u'#';
    EXPECT_TRUE(api_json::DecodeText(v, "long", small, 5));
    EXPECT_EQ(std::u16string(small), u"abcd");
    EXPECT_EQ(small[5], u'#');
    EXPECT_FALSE(api_json::DecodeText(v, "n", buf));
    EXPECT_EQ(buf[0], 0);
}

} // namespace
