#include "base/xml.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

class XmlFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_xml_file_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        platform::SetAtomicWriteHook(nullptr);
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string Path(const char* name) const { return m_dir + "/" + name; }
    std::u16string Path16(const char* name) const { return platform::FromNarrow(Path(name)); }

    static void Write(const std::string& path, const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static Bytes Utf16Le(const std::u16string& text) {
        Bytes out;
        for (char16_t c : text) {
            out.push_back(static_cast<unsigned char>(c & 0xFF));
            out.push_back(static_cast<unsigned char>(c >> 8));
        }
        return out;
    }
    static Bytes Narrow(const std::string& text) { return Bytes(text.begin(), text.end()); }

    std::string m_dir;
};

// FF FE and <?xml version="1.0" encoding="UTF-16"?> in UTF-16LE: the first 80 bytes of
// every saved document.
const Bytes kHeader = {
    0xFF, 0xFE, '<', 0, '?', 0, 'x', 0, 'm', 0, 'l', 0, ' ', 0, 'v', 0, 'e', 0, 'r', 0,
    's',  0,    'i', 0, 'o', 0, 'n', 0, '=', 0, '"', 0, '1', 0, '.', 0, '0', 0, '"', 0,
    ' ',  0,    'e', 0, 'n', 0, 'c', 0, 'o', 0, 'd', 0, 'i', 0, 'n', 0, 'g', 0, '=', 0,
    '"',  0,    'U', 0, 'T', 0, 'F', 0, '-', 0, '1', 0, '6', 0, '"', 0, '?', 0, '>', 0,
};

TEST_F(XmlFile, SavedDocumentHasTheExactLayout) {
    ASSERT_EQ(kHeader.size(), 80u);
    XmlNode root;
    ASSERT_NE(root.Load(u"<UploadList/>", &DefaultParseOptions), nullptr);
    XmlNode* item = root.AppendChild(new XmlNode);
    item->name = u"Item";
    item->AppendAttr(CreateAttr(u"id", u"\u00e9"));
    XmlNode* state = item->AppendChild(new XmlNode);
    state->name = u"S";
    state->value = u"1";
    ASSERT_TRUE(SaveFile(WriteXml(root, DefaultWriteOptions), Path16("list.xml")));

    Bytes expected = kHeader;
    const Bytes body = {
        '\r', 0, '\n', 0, '<',  0, 'U',  0, 'p',  0, 'l',  0, 'o',  0, 'a',  0, 'd', 0, 'L', 0,
        'i',  0, 's',  0, 't',  0, '>',  0, '\r', 0, '\n', 0, '\t', 0, '<',  0, 'I', 0, 't', 0,
        'e',  0, 'm',  0, ' ',  0, 'i',  0, 'd',  0, '=',  0, '"',  0, 0xE9, 0, '"', 0, ' ', 0,
        '>',  0, '\r', 0, '\n', 0, '\t', 0, '\t', 0, '<',  0, 'S',  0, '>',  0, '1', 0, '<', 0,
        '/',  0, 'S',  0, '>',  0, '\r', 0, '\n', 0, '\t', 0, '<',  0, '/',  0, 'I', 0, 't', 0,
        'e',  0, 'm',  0, '>',  0, '\r', 0, '\n', 0, '<',  0, '/',  0, 'U',  0, 'p', 0, 'l', 0,
        'o',  0, 'a',  0, 'd',  0, 'L',  0, 'i',  0, 's',  0, 't',  0, '>',  0,
    };
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(Read(Path("list.xml")), expected);

    // The file reads back into the same tree.
    XmlNode back;
    ASSERT_TRUE(LoadFile(Path16("list.xml"), back));
    EXPECT_EQ(WriteXml(back, DefaultWriteOptions), WriteXml(root, DefaultWriteOptions));
}

TEST_F(XmlFile, SavedSizeIsEightyPlusTwicePerCharacter) {
    ASSERT_TRUE(SaveFile(u"", Path16("empty.xml").c_str()));
    EXPECT_EQ(Read(Path("empty.xml")), kHeader);
    const std::u16string text = u"\r\n<r>\U0001F600</r>";
    ASSERT_TRUE(SaveFile(text, Path16("emoji.xml")));
    Bytes expected = kHeader;
    const Bytes body = Utf16Le(text);
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(Read(Path("emoji.xml")), expected);
    EXPECT_EQ(expected.size(), 80 + 2 * text.size());
}

TEST_F(XmlFile, SaveReplacesTheWholeOldContent) {
    Write(Path("f.xml"), Bytes(5000, 'x'));
    ::chmod(Path("f.xml").c_str(), 0640);
    ASSERT_TRUE(SaveFile(u"\r\n<a/>", Path16("f.xml").c_str()));
    EXPECT_EQ(Read(Path("f.xml")).size(), 80u + 12u);
    struct stat st;
    ASSERT_EQ(::stat(Path("f.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(XmlFile, FailedSaveLeavesTheOldFileIntact) {
    const Bytes old = Narrow("<old keep=\"yes\"/>");
    Write(Path("f.xml"), old);

    platform::SetAtomicWriteHook([](int fd, const void* data, std::size_t n) -> ssize_t {
        if (n > 10) {
            return ::write(fd, data, 10); // part of it, then the disk is full
        }
        errno = ENOSPC;
        return -1;
    });
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(SaveFile(u"\r\n<new/>", Path16("f.xml").c_str()));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrDiskFull);
    platform::SetAtomicWriteHook(nullptr);
    EXPECT_EQ(Read(Path("f.xml")), old);

    // A folder where the file should be is left alone.
    ASSERT_EQ(::mkdir(Path("dir.xml").c_str(), 0755), 0);
    EXPECT_FALSE(SaveFile(u"<a/>", Path16("dir.xml").c_str()));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);

    // A document too large to be read back is not written at all.
    const std::u16string huge(kMaxXmlFileBytes / 2, u'a');
    EXPECT_FALSE(SaveFile(huge, Path16("f.xml")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileTooLarge);
    EXPECT_EQ(Read(Path("f.xml")), old);

    // No temporary file is left behind.
    std::string cmd = "test $(ls -A '" + m_dir + "' | wc -l) -eq 2";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST_F(XmlFile, NullArgumentsFailWithInvalidParameter) {
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(SaveFile(nullptr, u"/tmp/x.xml"));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(SaveFile(u"<a/>", nullptr));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    XmlNode node;
    EXPECT_FALSE(LoadFile(nullptr, &node));
    EXPECT_FALSE(LoadFile(u"/tmp/x.xml", nullptr));
}

TEST_F(XmlFile, Utf16FilesKeepTheirTextAndNarrowFilesAreConverted) {
    Bytes utf16 = {0xFF, 0xFE};
    const Bytes body = Utf16Le(u"\r\n<a v=\"\u4e2d\">\u00e9 &lt;</a>");
    utf16.insert(utf16.end(), body.begin(), body.end());
    Write(Path("w.xml"), utf16);
    XmlNode w;
    ASSERT_TRUE(LoadFile(Path16("w.xml"), w));
    EXPECT_EQ(w.FindAttr(u"v")->value, u"\u4e2d");
    EXPECT_EQ(w.value, u"\u00e9 <");

    Write(Path("n.xml"),
          Narrow("<?xml version=\"1.0\"?>\n<a v=\"\xC3\xA9t\xC3\xA9\">caf\xC3\xA9</a>"));
    XmlNode n;
    ASSERT_TRUE(LoadFile(Path16("n.xml"), n));
    EXPECT_EQ(n.FindAttr(u"v")->value, u"\u00e9t\u00e9");
    EXPECT_EQ(n.value, u"caf\u00e9");

    // Odd sizes: a narrow file keeps its last byte; a UTF-16 file's stray byte is harmless.
    Write(Path("odd.xml"), Narrow("<a>xy</a>"));
    XmlNode odd;
    ASSERT_TRUE(LoadFile(Path16("odd.xml"), odd));
    EXPECT_EQ(odd.value, u"xy");
    Bytes oddWide = {0xFF, 0xFE};
    const Bytes oddBody = Utf16Le(u"<a>z</a>");
    oddWide.insert(oddWide.end(), oddBody.begin(), oddBody.end());
    oddWide.push_back('<');
    Write(Path("oddw.xml"), oddWide);
    XmlNode oddW;
    ASSERT_TRUE(LoadFile(Path16("oddw.xml"), oddW));
    EXPECT_EQ(oddW.value, u"z");

    // Narrow text ends at its first zero byte.
    Write(Path("zero.xml"), Bytes{'<', 'a', '>', 'v', 0, '<', '/', 'a', '>'});
    XmlNode zero;
    EXPECT_FALSE(LoadFile(Path16("zero.xml"), zero));
}

TEST_F(XmlFile, LoadFailuresAndTheLastErrorTheyLeave) {
    XmlNode node;
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(LoadFile(Path16("missing.xml"), node));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);

    Write(Path("empty.xml"), Bytes{});
    EXPECT_FALSE(LoadFile(Path16("empty.xml"), node));
    Write(Path("blank.xml"), Narrow(" \r\n\t "));
    EXPECT_FALSE(LoadFile(Path16("blank.xml"), node));
    EXPECT_FALSE(LoadFile(platform::FromNarrow(m_dir), node));

    // A parse failure sets no error of its own; the partial tree stays.
    Write(Path("bad.xml"), Narrow("<a><b></c></a>"));
    platform::SetLastErrorCode(1234);
    EXPECT_FALSE(LoadFile(Path16("bad.xml"), node));
    EXPECT_EQ(platform::GetLastErrorCode(), 1234);
    EXPECT_EQ(node.name, u"a");
    ASSERT_EQ(node.ChildCount(), 1u);

    if (::geteuid() != 0) {
        Write(Path("locked.xml"), Narrow("<a/>"));
        ::chmod(Path("locked.xml").c_str(), 0);
        EXPECT_FALSE(LoadFile(Path16("locked.xml"), node));
        EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);
    }
}

TEST_F(XmlFile, CommentReadFromAFileIsWrittenBackOnItsOwnLine) {
    Bytes bytes = kHeader;
    const Bytes body = Utf16Le(u"\r\n<r>\r\n\t<!-- keep me -->\r\n\t<c>1</c>\r\n</r>");
    bytes.insert(bytes.end(), body.begin(), body.end());
    Write(Path("c.xml"), bytes);
    XmlNode root;
    ASSERT_TRUE(LoadFile(Path16("c.xml"), root));
    ASSERT_TRUE(SaveFile(WriteXml(root, DefaultWriteOptions), Path16("c.xml")));
    EXPECT_EQ(Read(Path("c.xml")), bytes);
}

} // namespace
