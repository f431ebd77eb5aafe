#include "base/xml.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

XmlNode* AddChild(XmlNode& parent, const char16_t* name, const char16_t* value = nullptr) {
    XmlNode* child = parent.AppendChild(new XmlNode);
    child->name = name;
    if (value) {
        child->value = value;
    }
    return child;
}

std::u16string Reparsed(const std::u16string& text) {
    XmlParseOptions options;
    XmlNode node;
    EXPECT_NE(node.Load(text.c_str(), &options), nullptr);
    return WriteXml(node, DefaultWriteOptions);
}

TEST(XmlWrite, EmptyElementsWithAndWithoutAttributes) {
    XmlNode e;
    e.name = u"e";
    EXPECT_EQ(WriteXml(e, DefaultWriteOptions), u"\r\n<e/>");
    e.AppendAttr(CreateAttr(u"a", u"1"));
    e.AppendAttr(CreateAttr(u"b", u""));
    EXPECT_EQ(WriteXml(e, DefaultWriteOptions), u"\r\n<e a=\"1\" b=\"\" />");
    e.value = u"v";
    EXPECT_EQ(WriteXml(e, DefaultWriteOptions), u"\r\n<e a=\"1\" b=\"\" >v</e>");
}

TEST(XmlWrite, ValuesAreEncodedNamesAndSpecialNodesAreNot) {
    XmlNode e;
    e.name = u"a&b";
    e.AppendAttr(CreateAttr(u"q<", u"x<\"y'&>"));
    e.value = u"1 < 2 & \"3\"";
    const std::u16string text = WriteXml(e, DefaultWriteOptions);
    EXPECT_EQ(text, u"\r\n<a&b q<=\"x&lt;&quot;y&apos;&amp;&gt;\" >"
                    u"1 &lt; 2 &amp; &quot;3&quot;</a&b>");

    XmlNode r;
    r.name = u"r";
    r.AppendAttr(CreateAttr(u"v", u"x<\"y"));
    XmlParseOptions options;
    XmlNode back;
    const std::u16string written = WriteXml(r, DefaultWriteOptions);
    ASSERT_NE(back.Load(written.c_str(), &options), nullptr);
    EXPECT_EQ(back.FindAttr(u"v")->value, u"x<\"y");

    XmlNode s;
    s.name = u"s";
    AddChild(s, u"#COMMENT", u" a<&b ")->kind = XmlNodeKind::Comment;
    AddChild(s, u"#CDATA", u"<x>&amp;")->kind = XmlNodeKind::Cdata;
    AddChild(s, u"#DOCTYPE", u" s")->kind = XmlNodeKind::Doctype;
    EXPECT_EQ(WriteXml(s, DefaultWriteOptions),
              u"\r\n<s>\r\n\t<!-- a<&b -->\r\n\t<![CDATA[<x>&amp;]]>"
              u"\r\n\t<!DOCTYPE s>\r\n</s>");
}

TEST(XmlWrite, IndentationByDepth) {
    XmlNode root;
    root.name = u"r";
    AddChild(root, u"c", u"v");
    EXPECT_EQ(WriteXml(root, DefaultWriteOptions), u"\r\n<r>\r\n\t<c>v</c>\r\n</r>");

    XmlNode list;
    list.name = u"List";
    XmlNode* item = AddChild(list, u"Item");
    item->AppendAttr(CreateAttr(u"id", u"7"));
    AddChild(*item, u"Name", u"n");
    AddChild(*item, u"Empty");
    AddChild(list, u"Item");
    EXPECT_EQ(WriteXml(list, DefaultWriteOptions),
              u"\r\n<List>\r\n\t<Item id=\"7\" >\r\n\t\t<Name>n</Name>\r\n\t\t<Empty/>\r\n\t</Item>"
              u"\r\n\t<Item/>\r\n</List>");

    // A value beside children goes on a line one level deeper, after them.
    root.value = u"text";
    EXPECT_EQ(WriteXml(root, DefaultWriteOptions), u"\r\n<r>\r\n\t<c>v</c>\r\n\ttext\r\n</r>");

    // A starting depth from the options indents the whole subtree.
    XmlWriteOptions deeper;
    deeper.depth = 2;
    EXPECT_EQ(WriteXml(root, deeper), u"\r\n\t\t<r>\r\n\t\t\t<c>v</c>\r\n\t\t\ttext\r\n\t\t</r>");
    EXPECT_EQ(deeper.depth, 2);
    EXPECT_EQ(DefaultWriteOptions.depth, 0);
}

TEST(XmlWrite, OptionsSwitchOffIndentEncodingAndChangeQuotes) {
    XmlNode root;
    root.name = u"r";
    root.AppendAttr(CreateAttr(u"a", u"<'>"));
    AddChild(root, u"c", u"&");
    AddChild(root, u"#COMMENT", u"k")->kind = XmlNodeKind::Comment;

    XmlWriteOptions flat;
    flat.indent = false;
    EXPECT_EQ(WriteXml(root, flat), u"<r a=\"&lt;&apos;&gt;\" ><c>&amp;</c><!--k--></r>");

    flat.encodeEntities = false;
    flat.quoteChar = u'\'';
    EXPECT_EQ(WriteXml(root, flat), u"<r a='<'>' ><c>&</c><!--k--></r>");

    XmlWriteOptions noTable;
    noTable.entities = nullptr;
    EXPECT_EQ(WriteXml(root, noTable), u"\r\n<r a=\"<'>\" >\r\n\t<c>&</c>\r\n\t<!--k-->\r\n</r>");

    EXPECT_EQ(WriteXml(nullptr, &DefaultWriteOptions), u"");
    EXPECT_EQ(WriteXml(&root, nullptr), u"");
}

TEST(XmlWrite, ParsedDocumentsSurviveARoundTrip) {
    const std::u16string doc =
        u"\r\n<List ver=\"2\" >\r\n\t<!-- queue -->\r\n\t<Item path=\"/a &amp; b/&lt;c&gt;.jpg\" "
        u"size=\"12\" >\r\n\t\t<State>waiting</State>\r\n\t\t<Note/>\r\n\t</Item>"
        u"\r\n\t<![CDATA[ raw ]]>\r\n</List>";
    EXPECT_EQ(Reparsed(doc), doc);

    // Untidy input comes out in the program's own layout and stays that way.
    const std::u16string untidy = u"<a  x = '1'   y=2>  v  <b>  w </b>  <c/></a>";
    const std::u16string tidy = Reparsed(untidy);
    EXPECT_EQ(tidy, u"\r\n<a x=\"1\" y=\"2\" >\r\n\t<b>w</b>\r\n\t<c/>\r\n\tv\r\n</a>");
    EXPECT_EQ(Reparsed(tidy), tidy);
}

TEST(XmlWrite, ConcurrentWritesWithTheSharedOptionsKeepTheirIndentation) {
    XmlNode root;
    root.name = u"r";
    XmlNode* node = &root;
    for (int i = 0; i < 20; ++i) {
        node = AddChild(*node, u"n");
        AddChild(*node, u"leaf", u"x");
    }
    const std::u16string expected = WriteXml(root, DefaultWriteOptions);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                if (WriteXml(root, DefaultWriteOptions) != expected) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int m : mismatches) {
        EXPECT_EQ(m, 0);
    }
    EXPECT_EQ(DefaultWriteOptions.depth, 0);
}

} // namespace
