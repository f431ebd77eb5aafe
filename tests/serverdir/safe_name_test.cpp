// Disk names of server-supplied names: one component, inside its parent, never two names
// on one disk name.
#include "serverdir/safe_name.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/codepage.h"

namespace {

std::size_t Utf8Size(const std::u16string& s) {
    return platform::ToNarrow(s).size(); // the bytes of the file name on disk
}

TEST(SafeDiskName, EscapesWhatCouldLeaveTheFolder) {
    struct Case {
        std::u16string in, out;
    } cases[] = {
        {u"", u"%"},
        {u".", u"%2E"},
        {u"..", u"%2E."},
        {u"...", u"..."},
        {u".hidden", u".hidden"},
        {u"a/b", u"a%2Fb"},
        {u"../../x", u"..%2F..%2Fx"},
        {u"a\\b", u"a%5Cb"},
        {std::u16string(u"x\0y", 3), u"x%00y"},
        {u"tab\there\r\n", u"tab%09here%0D%0A"},
        {u"del\x7F", u"del%7F"},
        {u"50%", u"50%25"},
        {u"%2E%2E", u"%252E%252E"},
        {u"春节 & <1>.jpg", u"春节 & <1>.jpg"},
        {u"\U0001F600.png", u"\U0001F600.png"},
        {std::u16string(u"a\xD800"
                        "b",
                        3),
         u"a%uD800b"},
        {std::u16string(u"\xDC00", 1), u"%uDC00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeDiskName(c.in), c.out) << platform::ToNarrow(c.out);
}

TEST(SafeDiskName, DifferentNamesStayDifferent) {
    const std::u16string names[] = {
        u"",
        u"%",
        u".",
        u"%2E",
        u"..",
        u"%2E.",
        u"%2E%2E",
        u"a/b",
        u"a%2Fb",
        u"a_b",
        u"a\\b",
        u"a%5Cb",
        u"%25",
        u"%%",
        u"x",
        u"%uD800",
        std::u16string(u"\xD800", 1),
        std::u16string(u"\0", 1),
        u"%00",
    };
    std::set<std::u16string> seen;
    for (const auto& n : names) {
        std::u16string safe = SafeDiskName(n);
        EXPECT_TRUE(seen.insert(safe).second) << platform::ToNarrow(safe);
        EXPECT_EQ(safe.find(u'/'), std::u16string::npos);
        EXPECT_EQ(safe.find(u'\0'), std::u16string::npos);
        EXPECT_NE(safe, u".");
        EXPECT_NE(safe, u"..");
        EXPECT_FALSE(safe.empty());
    }
}

TEST(SafeDiskName, LongNamesAreCutWithAHashAndKeepTheirExtension) {
    // 100 Chinese characters are 300 bytes in UTF-8: too long for one component.
    std::u16string stem(100, u'图');
    std::u16string a = SafeDiskName(stem + u".jpeg");
    std::u16string b = SafeDiskName(stem + u"图.jpeg");
    EXPECT_LE(Utf8Size(a), kSafeNameMaxBytes);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(a.size() - 5), u".jpeg");
    EXPECT_EQ(a[a.size() - 14], u'~');
    // The same name always gives the same disk name.
    EXPECT_EQ(a, SafeDiskName(stem + u".jpeg"));

    // Escapes and surrogate pairs are never split by the cut.
    std::u16string slashes;
    for (int i = 0; i < 100; ++i)
        slashes += u"/\U0001F600";
    std::u16string s = SafeDiskName(slashes);
    EXPECT_LE(Utf8Size(s), kSafeNameMaxBytes);
    const std::size_t tilde = s.rfind(u'~');
    ASSERT_NE(tilde, std::u16string::npos);
    std::u16string kept = s.substr(0, tilde);
    EXPECT_EQ(kept.size() % 5, 0u); // whole "%2F" + pair pieces only
    EXPECT_EQ(s.find(u'/'), std::u16string::npos);

    // An extension too long to keep is cut like the rest; a name just short enough stays.
    std::u16string longExt = SafeDiskName(u"a." + std::u16string(300, u'e'));
    EXPECT_LE(Utf8Size(longExt), kSafeNameMaxBytes);
    std::u16string fits(kSafeNameMaxBytes, u'f');
    EXPECT_EQ(SafeDiskName(fits), fits);
    EXPECT_NE(SafeDiskName(fits + u"f"), fits + u"f");
}

} // namespace
