#include "base/text.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace {

std::string Bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned b : list)
        s += static_cast<char>(b);
    return s;
}

TEST(EncodeUtf8, OneTwoAndThreeByteUnits) {
    char out[8] = {};
    const char16_t zhong = u'\u4E2D', e = u'\u00E9', a = u'A';
    EXPECT_EQ(EncodeUtf8(out, sizeof out, &zhong, 1), 3u);
    EXPECT_EQ(std::string(out, 3), Bytes({0xE4, 0xB8, 0xAD}));
    EXPECT_EQ(EncodeUtf8(out, sizeof out, &e, 1), 2u);
    EXPECT_EQ(std::string(out, 2), Bytes({0xC3, 0xA9}));
    EXPECT_EQ(EncodeUtf8(out, sizeof out, &a, 1), 1u);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(EncodeUtf8(u""), "");
    EXPECT_EQ(EncodeUtf8(u"\u007F\u0080\u07FF\u0800\uFFFF"),
              Bytes({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
}

TEST(EncodeUtf8, APairIsOneCharacterALoneSurrogateItsStandIn) {
    EXPECT_EQ(EncodeUtf8(u"\U0001F600"), Bytes({0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(EncodeUtf8(u"\U0010FFFD"), Bytes({0xF4, 0x8F, 0xBF, 0xBD}));
    // Lone halves, and halves in the wrong order: U+10F800 + unit - 0xD800 each.
    const char16_t lone[] = {0xD83C, u'x', 0xDF0A, 0xDC00, 0xD800};
    EXPECT_EQ(EncodeUtf8(std::u16string_view(lone, 5)),
              Bytes({0xF4, 0x8F, 0xA0, 0xBC, 'x', 0xF4, 0x8F, 0xBC, 0x8A, 0xF4, 0x8F, 0xB0, 0x80,
                     0xF4, 0x8F, 0xA0, 0x80}));
    // A pair is never split by the capacity; a lone unit needs its four bytes.
    char out[8];
    std::memset(out, '#', sizeof out);
    const char16_t src[] = {u'a', 0xD83C, 0xDF0A};
    EXPECT_EQ(EncodeUtf8(out, 4, src, 3), 1u);
    EXPECT_EQ(out[1], '#');
    EXPECT_EQ(EncodeUtf8(out, 5, src, 3), 5u);
    EXPECT_EQ(EncodeUtf8(out, 4, src + 1, 1), 4u);
    EXPECT_EQ(EncodeUtf8(out, 3, src + 1, 1), 0u);
}

TEST(EncodeUtf8, StopsBeforeAUnitThatDoesNotFit) {
    char out[6];
    std::memset(out, '#', sizeof out);
    const char16_t src[] = {u'a', u'\u4E2D', u'b'};
    EXPECT_EQ(EncodeUtf8(out, 3, src, 3), 1u); // the three bytes of U+4E2D need 4 in all
    EXPECT_EQ(out[1], '#');
    EXPECT_EQ(EncodeUtf8(out, 4, src, 3), 4u);
    EXPECT_EQ(out[4], '#');
    EXPECT_EQ(EncodeUtf8(out, 0, src, 3), 0u);
    EXPECT_EQ(EncodeUtf8(nullptr, 6, src, 3), 0u);
    EXPECT_EQ(EncodeUtf8(out, 6, nullptr, 3), 0u);
}

TEST(DecodeAnswerText, SequencesAndQuirks) {
    EXPECT_EQ(DecodeAnswerText(Bytes({0xC3, 0xA9})), u"\u00E9");
    EXPECT_EQ(DecodeAnswerText(Bytes({0xE4, 0xB8, 0xAD})), u"\u4E2D");
    // A four-byte sequence (an emoji) is its pair; one that is no character is dropped.
    EXPECT_EQ(DecodeAnswerText("a" + Bytes({0xF0, 0x9F, 0x98, 0x80}) + "b"), u"a\U0001F600b");
    EXPECT_EQ(DecodeAnswerText(Bytes({0xF0, 0x8F, 0xBF, 0xBF, 'x', 0xF4, 0x90, 0x80, 0x80, 'y',
                                      0xF0, 0x9F, 0x41, 0x80, 'z'})),
              u"xyz");
    // Five- and six-byte forms are skipped whole as well.
    EXPECT_EQ(DecodeAnswerText(Bytes({0xF8, 1, 2, 3, 4, 'x', 0xFC, 1, 2, 3, 4, 5, 'y'})), u"xy");
    // A stray continuation byte and FE/FF stand for themselves.
    EXPECT_EQ(DecodeAnswerText(Bytes({0xA9, 0xFE, 0xFF})), u"\u00A9\u00FE\u00FF");
    // Continuation bytes are not checked: the low six bits are taken as they are.
    EXPECT_EQ(DecodeAnswerText(Bytes({0xC3, 0x29})), u"\u00E9");
    // A zero byte inside the length is a unit like any other.
    EXPECT_EQ(DecodeAnswerText(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(DecodeAnswerText(""), u"");
}

TEST(DecodeAnswerText, ReturnsUnitsPlusOneAndTerminates) {
    char16_t out[8];
    std::fill(std::begin(out), std::end(out), u'#');
    std::string in = "h" + Bytes({0xC3, 0xA9, 0xE4, 0xB8, 0xAD});
    EXPECT_EQ(DecodeAnswerText(in.data(), static_cast<int>(in.size()), out, 8), 4);
    EXPECT_EQ(std::u16string(out), u"h\u00E9\u4E2D");
    EXPECT_EQ(DecodeAnswerText("", 0, out, 8), 1);
    EXPECT_EQ(out[0], 0);
}

TEST(DecodeAnswerText, BadLengthsAndSmallDestinations) {
    char16_t out[4];
    const std::string in = "abc" + Bytes({0xE4, 0xB8, 0xAD});
    // A sequence cut by the length ends the walk; nothing is read past the length.
    EXPECT_EQ(DecodeAnswerText(in.data(), 5, out, 4), 4);
    EXPECT_EQ(std::u16string(out), u"abc");
    EXPECT_EQ(DecodeAnswerText(in.data(), 1, out, 4), 2);
    EXPECT_EQ(std::u16string(out), u"a");
    EXPECT_EQ(DecodeAnswerText(in.data(), -5, out, 4), 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(DecodeAnswerText(nullptr, 10, out, 4), 1);
    EXPECT_EQ(out[0], 0);
    // The destination bounds the output too.
    out[3] = u'#';
    EXPECT_EQ(DecodeAnswerText(in.data(), static_cast<int>(in.size()), out, 3), 3);
    EXPECT_EQ(std::u16string(out), u"ab");
    EXPECT_EQ(out[3], u'#');
    EXPECT_EQ(DecodeAnswerText(in.data(), 3, out, 0), 0);
    EXPECT_EQ(DecodeAnswerText(Bytes({'x', 0xC3})), u"x");
}

TEST(DecodeAnswerText, RoundTripsWhatEncodeUtf8Writes) {
    // Every BMP unit, the surrogates lone (U+DBFF and U+DC00 kept apart), and the first
    // and last pairs.
    std::u16string all;
    for (unsigned u = 1; u < 0x10000; ++u) {
        all += static_cast<char16_t>(u);
        if (u == 0xDBFF)
            all += u'.';
    }
    all += u"\U00010000\U0010F7FF";
    EXPECT_EQ(DecodeAnswerText(EncodeUtf8(all)), all);
    // The one price of the stand-ins: a real U+10F800..U+10FFFF reads back as the lone
    // surrogate it stands for, its bytes unchanged.
    const std::string last = EncodeUtf8(u"\U0010FC00");
    EXPECT_EQ(DecodeAnswerText(last), std::u16string(1, char16_t{0xDC00}));
    EXPECT_EQ(EncodeUtf8(DecodeAnswerText(last)), last);
}

TEST(DecodeAnswerText, PairsNeverSplitAtTheCapacity) {
    char16_t out[4];
    const std::string in = "ab" + Bytes({0xF0, 0x9F, 0x8C, 0x8A});
    EXPECT_EQ(DecodeAnswerText(in.data(), static_cast<int>(in.size()), out, 4), 3);
    EXPECT_EQ(std::u16string(out), u"ab");
    EXPECT_EQ(DecodeAnswerText(in.data(), static_cast<int>(in.size()) - 1, out, 4), 3);
}

// The usual form decoding a server applies to a query value.
std::string FormDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() &&
                   std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Names as users and foreign file systems make them, through every form a name takes on
// its way to the service and back: UTF-8, the query value, the narrow (file system) form.
TEST(NameConversions, EmojiLoneSurrogatesAndUrlSpecialsRoundTrip) {
    const char16_t loneHigh[] = {u'a', 0xD83C, u'.', u'j', u'p', u'g'};
    const char16_t loneLow[] = {0xDF0A, 0xD83C};
    const std::u16string names[] = {
        u"海边🌊.jpg",
        u"👨‍👩‍👧 family 🇨🇳.mp4",
        std::u16string(loneHigh, 6),
        std::u16string(loneLow, 2),
        u"a b#c%d&e[f]g'h=i;j+k?l/m:n@o!p$q,r(s)t*u~v.jpg",
        u"中文 名字é�.png",
    };
    for (const std::u16string& name : names) {
        const std::string utf8 = EncodeUtf8(name);
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            // Well-formed UTF-8: no surrogate's three-byte form, nothing past U+10FFFF.
            const unsigned char b = static_cast<unsigned char>(utf8[i]);
            EXPECT_FALSE(b == 0xED && i + 1 < utf8.size() &&
                         static_cast<unsigned char>(utf8[i + 1]) >= 0xA0);
            EXPECT_LT(b, 0xF5);
        }
        EXPECT_EQ(DecodeAnswerText(utf8), name);
        EXPECT_EQ(platform::ToNarrow(name), utf8);
        EXPECT_EQ(platform::FromNarrow(utf8), name);
        const std::string query = EscapeUrlText(utf8);
        EXPECT_EQ(query.find_first_of(" #&=;?/[]'"), std::string::npos);
        EXPECT_EQ(FormDecode(query), utf8);
    }
    EXPECT_EQ(EscapeUrlText(EncodeUtf8(u"海边🌊.jpg")), "%E6%B5%B7%E8%BE%B9%F0%9F%8C%8A.jpg");
    // Every byte string that is UTF-8 goes through the narrow form unchanged, stand-ins too.
    const std::string standIn = Bytes({0xF4, 0x8F, 0xA0, 0xBC});
    EXPECT_EQ(platform::ToNarrow(platform::FromNarrow(standIn)), standIn);
    EXPECT_EQ(platform::FromNarrow(standIn), std::u16string(1, char16_t{0xD83C}));
}

TEST(EscapeUrlText, DocumentedCases) {
    EXPECT_EQ(EscapeUrlText("a b/c"), "a+b%2Fc");
    EXPECT_EQ(EscapeUrlText("100%"), "100%25");
    EXPECT_EQ(EscapeUrlText("AZaz09-._"), "AZaz09-._");
    EXPECT_EQ(EscapeUrlText(Bytes({0xE4, 0xB8, 0xAD, 0x61})), "%E4%B8%AD%61");
    EXPECT_EQ(EscapeUrlText(Bytes({0xE4, 0xB8, 0xAD})), "%E4%B8%AD");
    EXPECT_EQ(EscapeUrlText(""), "");
    // The second byte of a pair is escaped whatever it is, even a space or a letter.
    EXPECT_EQ(EscapeUrlText(Bytes({0x81, ' ', 'x'})), "%81%20x");
    // Control characters and DEL pass unchanged; input ends at its first zero byte.
    EXPECT_EQ(EscapeUrlText(std::string("\t\x7F\0z", 4)), "\t\x7F");
}

TEST(EscapeUrlText, EscapeSetIsExactly) {
    const std::string set = "!\"#$%&'()*+,/:;<=>?@[\\]^`{|}~";
    for (int b = 1; b < 0x80; ++b) {
        std::string in(1, static_cast<char>(b));
        std::string out = EscapeUrlText(in);
        if (set.find(static_cast<char>(b)) != std::string::npos) {
            char expect[4];
            std::snprintf(expect, sizeof expect, "%%%02X", b);
            EXPECT_EQ(out, expect) << b;
        } else if (b == ' ') {
            EXPECT_EQ(out, "+");
        } else {
            EXPECT_EQ(out, in) << b;
        }
    }
}

TEST(EscapeUrlText, CapacityCutsAtWholePieces) {
    char out[8];
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(EscapeUrlText(out, 6, "a/b/c"), out);
    EXPECT_STREQ(out, "a%2Fb"); // the next %2F would need 3 more bytes
    EXPECT_EQ(out[6], '#');
    EXPECT_STREQ(EscapeUrlText(out, 6, "\xE4\xB8"), ""); // a pair is never split
    EXPECT_STREQ(EscapeUrlText(out, 1, "abc"), "");
    EXPECT_STREQ(EscapeUrlText(out, 8, nullptr), "");
    EXPECT_EQ(EscapeUrlText(nullptr, 8, "abc"), nullptr);
}

TEST(EscapeUrlText, RandomBytesFormDecodeBack) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string in(rng() % 40, '\0');
        for (char& c : in)
            c = static_cast<char>(1 + rng() % 255);
        std::string out = EscapeUrlText(in);
        ASSERT_LE(out.size(), in.size() * 3);
        ASSERT_EQ(out.find(' '), std::string::npos);
        for (unsigned char c : out)
            ASSERT_LT(c, 0x80);
        ASSERT_EQ(FormDecode(out), in);
    }
}

TEST(Base64, Rfc4648Vectors) {
    const char* vectors[][2] = {{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="},
                                {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        EXPECT_EQ(Base64Encode(v[0]), v[1]);
        std::string out = "junk";
        EXPECT_TRUE(Base64Decode(v[1], out));
        EXPECT_EQ(out, v[0]);
    }
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    std::string out;
    EXPECT_TRUE(Base64Decode(Base64Encode(all), out));
    EXPECT_EQ(out, all);
    EXPECT_EQ(Base64Encode(Bytes({0xFB, 0xFF})), "+/8=");
}

TEST(Base64, RejectsBadInput) {
    for (const char* bad : {"Zg=", "Zg", "Z===", "====", "Zm9v!A==", "Zm=v",
                            "Zg==Zg==", "Zh==", "Zm9=", "Zm9v\n", " Zm9v", "Zm-_"}) {
        std::string out = "junk";
        EXPECT_FALSE(Base64Decode(bad, out)) << bad;
        EXPECT_EQ(out, "") << bad;
    }
    std::string out;
    EXPECT_FALSE(Base64Decode(std::string("Zm\0v", 4), out));
}

} // namespace
