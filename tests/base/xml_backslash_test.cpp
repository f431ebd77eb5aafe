// Values ending in a backslash: the parser steps over the character after a backslash, so
// such a value must not hide its closing quote or "<" when written, and files written
// before keep reading the same.
#include "base/xml.h"

#include <gtest/gtest.h>

#include <string>

namespace {

void Fill(XmlNode& e, const std::u16string& attr, const std::u16string& text) {
    e.name = u"e";
    e.AppendAttr(CreateAttr(u"p", attr.c_str()));
    e.AppendAttr(CreateAttr(u"q", u"1"));
    e.value = text;
}

TEST(XmlBackslash, OddTrailingRunIsWrittenAsReferenceAndReadsBack) {
    struct Case {
        std::u16string value;
        std::u16string written;
    } cases[] = {
        {u"\\", u"&#92;"},        {u"C:\\相册\\", u"C:\\相册&#92;"}, {u"a\\\\\\", u"a\\\\&#92;"},
        {u"x<\\", u"x&lt;&#92;"}, {u"\"\\", u"&quot;&#92;"},
    };
    for (const Case& c : cases) {
        XmlNode e;
        Fill(e, c.value, c.value);
        const std::u16string text = WriteXml(e, DefaultWriteOptions);
        EXPECT_EQ(text, u"\r\n<e p=\"" + c.written + u"\" q=\"1\" >" + c.written + u"</e>");

        XmlParseOptions options;
        XmlNode back;
        ASSERT_NE(back.Load(text.c_str(), &options), nullptr);
        EXPECT_FALSE(options.errorOccurred);
        EXPECT_EQ(back.FindAttr(u"p")->value, c.value);
        EXPECT_EQ(back.FindAttr(u"q")->value, u"1");
        EXPECT_EQ(back.value, c.value);
    }

    // Inside a parent, the next sibling is not swallowed either.
    XmlNode list;
    list.name = u"l";
    list.AppendChild(std::make_unique<XmlNode>())->name = u"a";
    list.children[0]->AppendAttr(CreateAttr(u"path", u"/tmp/dir\\"));
    list.AppendChild(std::make_unique<XmlNode>())->name = u"b";
    list.children[1]->AppendAttr(CreateAttr(u"path", u"/tmp/x"));
    const std::u16string text = WriteXml(list, DefaultWriteOptions);
    EXPECT_EQ(text,
              u"\r\n<l>\r\n\t<a path=\"/tmp/dir&#92;\" />\r\n\t<b path=\"/tmp/x\" />\r\n</l>");
    XmlParseOptions options;
    XmlNode back;
    ASSERT_NE(back.Load(text.c_str(), &options), nullptr);
    ASSERT_EQ(back.ChildCount(), 2u);
    EXPECT_EQ(back.GetChild(0)->FindAttr(u"path")->value, u"/tmp/dir\\");
    EXPECT_EQ(back.GetChild(1)->FindAttr(u"path")->value, u"/tmp/x");
}

TEST(XmlBackslash, OtherBackslashesKeepTheirBytes) {
    // Even trailing runs and backslashes inside a value are written as before.
    for (const std::u16string v : {u"a\\b", u"\\\\", u"\\a\\\\", u"a\\&b"}) {
        XmlNode e;
        Fill(e, v, std::u16string());
        std::u16string expected = v;
        if (v == u"a\\&b")
            expected = u"a\\&amp;b";
        EXPECT_EQ(WriteXml(e, DefaultWriteOptions), u"\r\n<e p=\"" + expected + u"\" q=\"1\" />");
        XmlParseOptions options;
        XmlNode back;
        const std::u16string text = WriteXml(e, DefaultWriteOptions);
        ASSERT_NE(back.Load(text.c_str(), &options), nullptr);
        EXPECT_EQ(back.FindAttr(u"p")->value, v);
    }
    // Without encoding nothing is changed, whatever the parser makes of it.
    XmlWriteOptions plain;
    plain.indent = false;
    plain.encodeEntities = false;
    XmlNode e;
    Fill(e, u"a\\", std::u16string());
    EXPECT_EQ(WriteXml(e, plain), u"<e p=\"a\\\" q=\"1\" />");
}

TEST(XmlBackslash, TextWrittenEarlierReadsTheSame) {
    XmlParseOptions options;
    XmlNode n;
    // A backslash inside a value still hides the character after it and stays; an escaped
    // reference stays literal text; numeric references other than the backslash's stay.
    const std::u16string text =
        u"<r a=\"C:\\x\\\"y\" b=\"&amp;#92;\" c=\"&#38;\\\\\">t\\&lt;\\</r></r>";
    ASSERT_NE(n.Load(text.c_str(), &options), nullptr);
    EXPECT_EQ(n.FindAttr(u"a")->value, u"C:\\x\\\"y");
    EXPECT_EQ(n.FindAttr(u"b")->value, u"&#92;");
    EXPECT_EQ(n.FindAttr(u"c")->value, u"&#38;\\\\");
    EXPECT_EQ(n.value, u"t\\<\\</r>");

    // Without decoding the reference is kept as written.
    XmlParseOptions raw;
    raw.decodeEntities = false;
    XmlNode m;
    ASSERT_NE(m.Load(u"<r a=\"x&#92;\"/>", &raw), nullptr);
    EXPECT_EQ(m.FindAttr(u"a")->value, u"x&#92;");
}

} // namespace
