#include "base/xml.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// A parse with a report of its own, so each case sees its first error.
struct Parsed {
    explicit Parsed(const std::u16string& source) : text(source) {
        end = root.Load(text.c_str(), &options);
    }
    std::ptrdiff_t Offset(const char16_t* p) const { return p ? p - text.c_str() : -1; }
    std::ptrdiff_t EndOffset() const { return Offset(end); }
    std::ptrdiff_t ErrorOffset() const { return Offset(options.errorPosition); }

    std::u16string text;
    XmlParseOptions options;
    XmlNode root;
    const char16_t* end = nullptr;
};

std::u16string Attr(const XmlNode& node, std::size_t i) {
    return node.attributes.at(i)->name + u"=" + node.attributes.at(i)->value;
}

TEST(XmlParse, EmptyElementTagEndsJustAfterSlashGreater) {
    Parsed p(u"<UserInfo/>tail");
    EXPECT_EQ(p.root.name, u"UserInfo");
    EXPECT_TRUE(p.root.attributes.empty());
    EXPECT_TRUE(p.root.children.empty());
    EXPECT_TRUE(p.root.value.empty());
    EXPECT_EQ(p.root.kind, XmlNodeKind::Element);
    EXPECT_EQ(p.EndOffset(), 11);
    EXPECT_FALSE(p.options.errorOccurred);
}

TEST(XmlParse, AttributesQuotedUnquotedAndWithoutValue) {
    Parsed p(u"<a b  c=\" 1 \" d = 'x y' e=plain f />");
    ASSERT_NE(p.end, nullptr);
    ASSERT_EQ(p.root.attributes.size(), 5u);
    EXPECT_EQ(Attr(p.root, 0), u"b=");
    EXPECT_EQ(Attr(p.root, 1), u"c=1");
    EXPECT_EQ(Attr(p.root, 2), u"d=x y");
    EXPECT_EQ(Attr(p.root, 3), u"e=plain");
    EXPECT_EQ(Attr(p.root, 4), u"f=");
    EXPECT_EQ(p.root.attributes[0]->parent, &p.root);

    // Tabs and line breaks end a name; an unquoted value runs up to a space or ">".
    Parsed q(u"<a\tx=1/ y='&lt;&amp;'>v</a>");
    ASSERT_NE(q.end, nullptr);
    EXPECT_EQ(q.root.name, u"a");
    EXPECT_EQ(Attr(q.root, 0), u"x=1/");
    EXPECT_EQ(Attr(q.root, 1), u"y=<&");
    EXPECT_EQ(q.root.value, u"v");

    // An unquoted value swallows "/" so the tag is not empty and is never closed.
    Parsed r(u"<a x=1/>");
    EXPECT_EQ(r.end, nullptr);
    EXPECT_EQ(r.options.errorCode, XmlParseError::NotClosed);
    EXPECT_EQ(r.options.errorText, u"a must be closed with </a>");
}

TEST(XmlParse, TextIsTrimmedDecodedAndOnlyTheFirstRunKept) {
    Parsed p(u"<a> \t x &amp; y &#38; \r\n</a>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.root.value, u"x & y &#38;");
    EXPECT_EQ(p.EndOffset(), static_cast<std::ptrdiff_t>(p.text.size()));

    Parsed second(u"<a>first<b/>second</a>");
    ASSERT_NE(second.end, nullptr);
    EXPECT_EQ(second.root.value, u"first");
    ASSERT_EQ(second.root.children.size(), 1u);

    Parsed blankFirst(u"<a>  <b/> second <c/>third</a>");
    ASSERT_NE(blankFirst.end, nullptr);
    EXPECT_EQ(blankFirst.root.value, u"second");
    EXPECT_EQ(blankFirst.root.children.size(), 2u);
}

TEST(XmlParse, EntitiesDecodeLeftToRightOncePerReference) {
    Parsed p(u"<a>&amp;lt; &quot;&apos;&lt;&gt; &AMP; &unknown; & &am</a>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.root.value, u"&lt; \"'<> &AMP; &unknown; & &am");

    // Without trimming or decoding the text stays as written.
    std::u16string text = u"<a>  &lt;  </a>";
    XmlParseOptions raw;
    raw.trimValues = false;
    raw.decodeEntities = false;
    XmlNode node;
    ASSERT_NE(node.Load(text.c_str(), &raw), nullptr);
    EXPECT_EQ(node.value, u"  &lt;  ");
}

TEST(XmlParse, NestedChildrenInDocumentOrder) {
    Parsed p(u"<List><Item id='1'><Name>one</Name></Item><Item id='2'/></List>");
    ASSERT_NE(p.end, nullptr);
    ASSERT_EQ(p.root.ChildCount(), 2u);
    XmlNode* first = p.root.GetChild(0);
    EXPECT_EQ(first->parent, &p.root);
    EXPECT_EQ(first->FindAttr(u"id")->value, u"1");
    EXPECT_EQ(first->FindChild(u"Name")->value, u"one");
    EXPECT_EQ(p.root.GetChild(1)->FindAttr(u"id")->value, u"2");
    EXPECT_EQ(p.root.GetChild(2), nullptr);
}

TEST(XmlParse, ByteOrderMarkDeclarationAndTopCommentsAreReadOver) {
    Parsed p(u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<!-- top -->\r\n"
             u"<!DOCTYPE r>\r\n<r/>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.root.name, u"r");
    EXPECT_TRUE(p.root.children.empty());

    // Stray text between the declaration and the root is skipped like anything before "<".
    Parsed stray(u"<?xml?> junk <r/>");
    ASSERT_NE(stray.end, nullptr);
    EXPECT_EQ(stray.root.name, u"r");
}

TEST(XmlParse, SpecialNodesTakeTheirPlaceAmongChildren) {
    Parsed p(u"<a><!-- c1 --><b/>  <![CDATA[ <raw> &amp; ]]><!doctype d ><?pi x?><c/></a>");
    ASSERT_NE(p.end, nullptr);
    ASSERT_EQ(p.root.ChildCount(), 5u);
    const XmlNode* c = p.root.GetChild(0);
    EXPECT_EQ(c->kind, XmlNodeKind::Comment);
    EXPECT_EQ(c->name, u"#COMMENT");
    EXPECT_EQ(c->value, u" c1 ");
    EXPECT_EQ(c->parent, &p.root);
    EXPECT_EQ(p.root.GetChild(1)->name, u"b");
    EXPECT_EQ(p.root.GetChild(2)->kind, XmlNodeKind::Cdata);
    EXPECT_EQ(p.root.GetChild(2)->name, u"#CDATA");
    EXPECT_EQ(p.root.GetChild(2)->value, u" <raw> &amp; ");
    EXPECT_EQ(p.root.GetChild(3)->kind, XmlNodeKind::Doctype);
    EXPECT_EQ(p.root.GetChild(3)->name, u"#DOCTYPE");
    EXPECT_EQ(p.root.GetChild(3)->value, u" d ");
    EXPECT_EQ(p.root.GetChild(4)->name, u"c"); // the processing instruction is dropped
    EXPECT_EQ(p.root.FindChild(u"#COMMENT"), c);
}

TEST(XmlParse, TopCdataDoesNotStartAnotherPass) {
    // After a CDATA section the next construct is not looked for: "<!--" is taken as a name.
    Parsed p(u"<![CDATA[x]]><!--c--><r/>");
    EXPECT_EQ(p.end, nullptr);
    Parsed q(u"<!--c--><![CDATA[x]]><r/>");
    ASSERT_NE(q.end, nullptr);
    EXPECT_EQ(q.root.name, u"r");
}

TEST(XmlParse, BackslashHidesTheNextCharacterFromTheSearch) {
    Parsed p(u"<a>v\\</a></a>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.root.value, u"v\\</a>");
    EXPECT_EQ(p.EndOffset(), static_cast<std::ptrdiff_t>(p.text.size()));

    Parsed q(u"<a x=\"1\\\"2\" y='\\\\'/>");
    ASSERT_NE(q.end, nullptr);
    EXPECT_EQ(q.root.FindAttr(u"x")->value, u"1\\\"2");
    EXPECT_EQ(q.root.FindAttr(u"y")->value, u"\\\\");
}

TEST(XmlParse, ErrorMessagesCodesAndPositions) {
    Parsed nested(u"<a><b></c></a>");
    EXPECT_EQ(nested.end, nullptr);
    EXPECT_TRUE(nested.options.errorOccurred);
    EXPECT_EQ(nested.options.errorCode, XmlParseError::NotNested);
    EXPECT_EQ(nested.options.errorText, u"'<b> ... </c>' is not wel-formed.");
    EXPECT_EQ(nested.ErrorOffset(), 10); // just after the ">" of "</c>"
    // The failed child got a name, so it stays.
    ASSERT_EQ(nested.root.ChildCount(), 1u);
    EXPECT_EQ(nested.root.GetChild(0)->name, u"b");

    Parsed open(u"<a><b>");
    EXPECT_EQ(open.end, nullptr);
    EXPECT_EQ(open.options.errorCode, XmlParseError::NotClosed);
    EXPECT_EQ(open.options.errorText, u"b must be closed with </b>");
    EXPECT_EQ(open.ErrorOffset(), 6);

    Parsed closing(u"<a>x</ a");
    EXPECT_EQ(closing.end, nullptr);
    EXPECT_EQ(closing.options.errorCode, XmlParseError::NotClosed);
    EXPECT_EQ(closing.options.errorText, u"it must be closed with </a>");
    EXPECT_EQ(closing.ErrorOffset(), 7); // the closing name, after the skipped space

    Parsed attr(u"<a x='1' bcd>text</a>");
    EXPECT_EQ(attr.end, nullptr);
    EXPECT_EQ(attr.options.errorCode, XmlParseError::AttributeNoValue);
    EXPECT_EQ(attr.options.errorText, u"<a> attribute has error ");
    EXPECT_EQ(attr.ErrorOffset(), 9);

    Parsed slash(u"<a/ >");
    EXPECT_EQ(slash.end, nullptr);
    EXPECT_EQ(slash.options.errorCode, XmlParseError::ElementNotClosed);
    EXPECT_EQ(slash.options.errorText, u"Element must be closed.");
    EXPECT_EQ(slash.ErrorOffset(), 3);

    // Text after the last child that never meets a "<".
    Parsed trailing(u"<a><b/>  ");
    EXPECT_EQ(trailing.end, nullptr);
    EXPECT_EQ(trailing.options.errorText, u"it must be closed with </a>");
    EXPECT_EQ(trailing.ErrorOffset(), 7);
}

TEST(XmlParse, LongNamesAreCutToNinetyNineCharacters) {
    const std::u16string name(60, u'n');
    Parsed p(u"<" + name + u">");
    EXPECT_EQ(p.end, nullptr);
    const std::u16string full = name + u" must be closed with </" + name + u">";
    EXPECT_EQ(p.options.errorText, full.substr(0, 99));
}

TEST(XmlParse, OnlyTheFirstErrorIsReported) {
    XmlParseOptions options;
    XmlNode node;
    std::u16string first = u"<a><b></c></a>";
    std::u16string second = u"<a><b>";
    EXPECT_EQ(node.Load(first.c_str(), &options), nullptr);
    EXPECT_EQ(node.Load(second.c_str(), &options), nullptr);
    EXPECT_EQ(options.errorCode, XmlParseError::NotNested);
    EXPECT_EQ(options.errorText, u"'<b> ... </c>' is not wel-formed.");
    EXPECT_EQ(options.errorPosition, first.c_str() + 10);
}

TEST(XmlParse, TruncatedAndUnterminatedInputFailsWithinTheText) {
    struct Case {
        const char16_t* text;
        XmlParseError error;
    };
    const Case cases[] = {
        {u"", XmlParseError::None},
        {u"no tag at all", XmlParseError::None},
        {u"<", XmlParseError::None},
        {u"<a", XmlParseError::None},
        {u"<a ", XmlParseError::None},
        {u"<a x", XmlParseError::AttributeNoValue},
        {u"<a x=", XmlParseError::None},
        {u"<a x='1", XmlParseError::None},
        {u"<a x=\"1\\", XmlParseError::None},
        {u"<a/", XmlParseError::ElementNotClosed},
        {u"<a>", XmlParseError::NotClosed},
        {u"<a>x\\", XmlParseError::NotClosed},
        {u"<a>x\\<", XmlParseError::NotClosed},
        {u"<a><b/>x\\", XmlParseError::NotClosed},
        {u"<a>x</", XmlParseError::NotClosed},
        {u"<a>x</a", XmlParseError::NotClosed},
        {u"<?xml", XmlParseError::None},
        {u"<?xml ?", XmlParseError::None},
        {u"<!-- x", XmlParseError::None},
        {u"<!-- x --", XmlParseError::None},
        {u"<![CDATA[x]]", XmlParseError::None},
        {u"<!DOCTYPE x", XmlParseError::None},
        {u"<a><!-- x", XmlParseError::None},
        {u"<a><![CDATA[", XmlParseError::None},
        {u"<a><!DOCTYPE", XmlParseError::None},
        {u"<a>v<b x='", XmlParseError::None},
        {u"\\", XmlParseError::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
        Parsed p(c.text);
        EXPECT_EQ(p.end, nullptr);
        EXPECT_EQ(p.options.errorCode, c.error);
        EXPECT_EQ(p.options.errorOccurred, c.error != XmlParseError::None);
        if (p.options.errorPosition) {
            EXPECT_LE(p.ErrorOffset(), static_cast<std::ptrdiff_t>(p.text.size()));
        }
    }
}

TEST(XmlParse, UnclosedRootWithValueEndsAtTheEndOfText) {
    // A value was taken, so reaching the end inside the element is accepted.
    Parsed p(u"<a>x<b/>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.EndOffset(), static_cast<std::ptrdiff_t>(p.text.size()));
    EXPECT_EQ(p.root.value, u"x");
    EXPECT_EQ(p.root.ChildCount(), 1u);

    // A closing tag ended by a space returns just after the space.
    Parsed q(u"<a>x</a >rest");
    ASSERT_NE(q.end, nullptr);
    EXPECT_EQ(q.EndOffset(), 8);
}

TEST(XmlParse, ClosingTagAtTheStartLeavesTheNodeEmpty) {
    Parsed p(u"  </a><b/>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.EndOffset(), 2);
    EXPECT_TRUE(p.root.name.empty());
}

TEST(XmlParse, LoadingAgainKeepsOnlyTheSecondResult) {
    XmlParseOptions options;
    XmlNode node;
    node.kind = XmlNodeKind::Element;
    std::u16string first = u"<a x='1'><b/>v</a>";
    std::u16string second = u"<c/>";
    ASSERT_NE(node.Load(first.c_str(), &options), nullptr);
    ASSERT_NE(node.Load(second.c_str(), &options), nullptr);
    EXPECT_EQ(node.name, u"c");
    EXPECT_TRUE(node.attributes.empty());
    EXPECT_TRUE(node.children.empty());
    EXPECT_TRUE(node.value.empty());
    EXPECT_EQ(node.Load(second.c_str(), nullptr), nullptr);
    EXPECT_EQ(node.Load(nullptr, &options), nullptr);
}

TEST(XmlParse, DeepNestingIsRefusedInsteadOfExhaustingTheStack) {
    auto nest = [](int levels) {
        std::u16string s;
        for (int i = 0; i < levels; ++i) {
            s += u"<n>";
        }
        s += u"x";
        for (int i = 0; i < levels; ++i) {
            s += u"</n>";
        }
        return s;
    };
    Parsed ok(nest(200));
    EXPECT_NE(ok.end, nullptr);
    Parsed deep(nest(100000));
    EXPECT_EQ(deep.end, nullptr);
    EXPECT_FALSE(deep.options.errorOccurred);
}

TEST(XmlParse, SharedReportHoldsExactlyOneWholeMessage) {
    XmlParseOptions shared;
    const std::u16string texts[] = {u"<a><b></c></a>", u"<a><b>", u"<a x>", u"<a/ >"};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                XmlNode node;
                node.Load(texts[t].c_str(), &shared);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const std::u16string messages[] = {u"'<b> ... </c>' is not wel-formed.",
                                       u"b must be closed with </b>", u"<a> attribute has error ",
                                       u"Element must be closed."};
    const XmlParseError codes[] = {XmlParseError::NotNested, XmlParseError::NotClosed,
                                   XmlParseError::AttributeNoValue,
                                   XmlParseError::ElementNotClosed};
    bool matched = false;
    for (int i = 0; i < 4; ++i) {
        if (shared.errorText == messages[i]) {
            EXPECT_EQ(shared.errorCode, codes[i]);
            matched = true;
        }
    }
    EXPECT_TRUE(matched) << std::string(shared.errorText.begin(), shared.errorText.end());
}

TEST(XmlNodeTree, LookupsAreExactAndTakeTheFirstMatch) {
    Parsed p(u"<r id='1' id='2' Id='3'><c>1</c><c>2</c><C>3</C></r>");
    ASSERT_NE(p.end, nullptr);
    EXPECT_EQ(p.root.FindAttr(u"id")->value, u"1");
    EXPECT_EQ(p.root.FindAttr(u"Id")->value, u"3");
    EXPECT_EQ(p.root.FindAttr(u"i"), nullptr);
    EXPECT_EQ(p.root.FindAttr(u"idx"), nullptr);
    EXPECT_EQ(p.root.FindAttr(nullptr), nullptr);
    EXPECT_EQ(p.root.FindChild(u"c")->value, u"1");
    EXPECT_EQ(p.root.FindChild(u"C")->value, u"3");
    EXPECT_EQ(p.root.FindChild(u"cc"), nullptr);
}

TEST(XmlNodeTree, SetChildValueIgnoresACaseOnlyChange) {
    Parsed p(u"<r><Ver>abc</Ver><Other>x</Other></r>");
    ASSERT_NE(p.end, nullptr);
    XmlNode* ver = p.root.SetChildValue(u"Ver", u"ABC");
    ASSERT_NE(ver, nullptr);
    EXPECT_EQ(ver->value, u"abc");
    EXPECT_EQ(p.root.SetChildValue(u"Ver", u"abd"), ver);
    EXPECT_EQ(ver->value, u"abd");
    p.root.SetChildValue(u"Ver", nullptr);
    EXPECT_EQ(ver->value, u"");
    EXPECT_EQ(p.root.SetChildValue(u"Missing", u"v"), nullptr);
    EXPECT_EQ(p.root.FindChild(u"Other")->value, u"x");
}

TEST(XmlNodeTree, OwnershipMovesAndRemovals) {
    XmlNode root;
    root.name = u"r";
    XmlNode* a = root.AppendChild(new XmlNode);
    a->name = u"a";
    XmlNode* b = a->AppendChild(std::make_unique<XmlNode>());
    b->name = u"b";
    EXPECT_EQ(b->parent, a);

    // Appending a node that belongs elsewhere moves it instead of sharing it.
    XmlNode other;
    EXPECT_EQ(other.AppendChild(b), b);
    EXPECT_EQ(b->parent, &other);
    EXPECT_TRUE(a->children.empty());

    // A node cannot become its own descendant.
    EXPECT_EQ(a->AppendChild(&root), nullptr);
    EXPECT_EQ(a->AppendChild(a), nullptr);
    EXPECT_EQ(root.AppendChild(nullptr), nullptr);

    XmlAttribute* attr = root.AppendAttr(CreateAttr(u"k", u"v"));
    EXPECT_EQ(attr->parent, &root);
    EXPECT_EQ(root.FindAttr(u"k"), attr);
    // An attribute appended elsewhere moves too; a refused owned node is freed, not leaked.
    XmlNode second;
    EXPECT_EQ(second.AppendAttr(attr), attr);
    EXPECT_EQ(attr->parent, &second);
    EXPECT_TRUE(root.attributes.empty());
    EXPECT_EQ(second.AppendAttr(nullptr), nullptr);
    EXPECT_EQ(b->AppendChild(std::unique_ptr<XmlNode>()), nullptr);
    EXPECT_EQ(root.SetChildValue(nullptr, u"v"), nullptr);

    XmlAttribute* loose = CreateAttr(nullptr, nullptr);
    EXPECT_EQ(loose->parent, nullptr);
    EXPECT_TRUE(loose->name.empty());
    delete loose;

    EXPECT_FALSE(root.RemoveChild(b)); // not one of root's children
    EXPECT_FALSE(root.RemoveChild(nullptr));
    EXPECT_TRUE(root.RemoveChild(a));
    EXPECT_TRUE(root.children.empty());

    XmlNode holder;
    XmlNode* kept = holder.AppendChild(new XmlNode);
    kept->kind = XmlNodeKind::Comment;
    kept->name = u"#COMMENT";
    kept->value = u"v";
    kept->AppendAttr(CreateAttr(u"x", u"y"));
    kept->Clear();
    EXPECT_EQ(kept->kind, XmlNodeKind::Comment);
    EXPECT_EQ(kept->parent, &holder);
    EXPECT_TRUE(kept->name.empty());
    EXPECT_TRUE(kept->value.empty());
    EXPECT_TRUE(kept->attributes.empty());
}

} // namespace
