#include "base/format.h"

#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(FormatText, StringsOfBothWidths) {
    EXPECT_EQ(FormatText(u"[%s|%hs|%S|%ls]", u"wide", "narrow", "caps", u"long"),
              u"[wide|narrow|caps|long]");
    // Narrow text is UTF-8 and comes out as the same characters.
    EXPECT_EQ(FormatText(u"%hs", "\xE4\xB8\xAD\xC3\xA9"), u"\u4E2D\u00E9");
    EXPECT_EQ(FormatText(u"%s %hs", static_cast<const char16_t*>(nullptr),
                         static_cast<const char*>(nullptr)),
              u"(null) (null)");
    EXPECT_EQ(FormatText(u"[%5s][%-5s][%.2s][%-4.1hs]", u"ab", u"ab", u"abc", "xyz"),
              u"[   ab][ab   ][ab][x   ]");
    EXPECT_EQ(FormatText(u"[%*s][%-*s][%.*s]", 4, u"a", 3, u"b", 1, u"cd"), u"[   a][b  ][c]");
    // A negative width taken from the arguments means left alignment.
    EXPECT_EQ(FormatText(u"[%*s]", -3, u"a"), u"[a  ]");
}

TEST(FormatText, PrecisionNeverReadsPastIt) {
    // Not terminated: only the first three units may be read.
    const char16_t wide[3] = {u'a', u'b', u'c'};
    const char narrow[2] = {'x', 'y'};
    EXPECT_EQ(FormatText(u"%.3s%.2hs", wide, narrow), u"abcxy");
}

TEST(FormatText, Integers) {
    EXPECT_EQ(FormatText(u"%d %i %u %x %X %o", -42, 7, 4000000000u, 255u, 255u, 8u),
              u"-42 7 4000000000 ff FF 10");
    EXPECT_EQ(FormatText(u"%04d-%02d-%02d", 2013, 5, 2), u"2013-05-02");
    EXPECT_EQ(FormatText(u"[%+d][% d][%-4d][%#x][%.3d]", 5, 5, 5, 26u, 7),
              u"[+5][ 5][5   ][0x1a][007]");
    EXPECT_EQ(
        FormatText(u"%lld %I64d %llu", LLONG_MIN, static_cast<long long>(1) << 40, ULLONG_MAX),
        u"-9223372036854775808 1099511627776 18446744073709551615");
    EXPECT_EQ(FormatText(u"%zu %hd %hhu %ld", static_cast<std::size_t>(12), 70000, 300, 123456789L),
              u"12 4464 44 123456789");
    EXPECT_EQ(FormatText(u"%.2x", 10u), u"0a");
}

TEST(FormatText, CharactersFloatsPointersPercent) {
    EXPECT_EQ(FormatText(u"%c%c%hc", u'\u4E2D', 'A', 'b'), u"\u4E2DAb");
    EXPECT_EQ(FormatText(u"%.2f %e %g", 3.14159, 1500.0, 0.5), u"3.14 1.500000e+03 0.5");
    EXPECT_EQ(FormatText(u"100%%"), u"100%");
    EXPECT_EQ(FormatText(u"%p", reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xABC))),
              u"0000000000000ABC");
}

TEST(FormatText, ArgumentsAfterNStillLineUp) {
    int ignored = 0;
    EXPECT_EQ(FormatText(u"a%nb%d", &ignored, 9), u"ab9");
    EXPECT_EQ(ignored, 0);
}

TEST(FormatText, BadConversionStopsTheText) {
    EXPECT_EQ(FormatText(u"ok %y then %d", 5), u"ok ");
    EXPECT_EQ(FormatText(u"trailing %"), u"trailing ");
    EXPECT_EQ(FormatText(nullptr), u"");
}

TEST(FormatText, HugeWidthIsClamped) {
    std::u16string s = FormatText(u"%2147483647d", 1);
    EXPECT_EQ(s.size(), 65536u);
    EXPECT_EQ(s.back(), u'1');
}

TEST(FormatToBuffer, KeepsCapacityMinusOneAndTerminates) {
    char16_t buf[8];
    for (char16_t& c : buf)
        c = u'#';
    EXPECT_EQ(FormatToBuffer(buf, 5, u"%s-%d", u"abcdef", 12), 4u);
    EXPECT_EQ(std::u16string(buf), u"abcd");
    EXPECT_EQ(buf[5], u'#'); // nothing past the capacity

    EXPECT_EQ(FormatToBuffer(buf, 8, u"%d", 1234567), 7u);
    EXPECT_EQ(std::u16string(buf), u"1234567");

    EXPECT_EQ(FormatToBuffer(buf, 1, u"abc"), 0u);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(FormatToBuffer(buf, 0, u"abc"), 0u);
    EXPECT_EQ(FormatToBuffer(nullptr, 10, u"abc"), 0u);
}

TEST(FormatToBuffer, CutInsidePaddingAndNumbers) {
    char16_t buf[6];
    buf[5] = u'#';
    EXPECT_EQ(FormatToBuffer(buf, 5, u"%100d", 7), 4u);
    EXPECT_EQ(std::u16string(buf), u"    ");
    EXPECT_EQ(FormatToBuffer(buf, 5, u"%-100hs|", "xy"), 4u);
    EXPECT_EQ(std::u16string(buf), u"xy  ");
    EXPECT_EQ(FormatToBuffer(buf, 5, u"%f", 123456.0), 4u);
    EXPECT_EQ(std::u16string(buf), u"1234");
    EXPECT_EQ(buf[5], u'#');
}

TEST(FormatToBuffer, LongMessageAtLogCapacity) {
    std::u16string msg(300, u'm');
    char16_t buf[260];
    EXPECT_EQ(FormatToBuffer(buf, 260, u"%s", msg.c_str()), 259u);
    EXPECT_EQ(std::u16string(buf), msg.substr(0, 259));
}

} // namespace
