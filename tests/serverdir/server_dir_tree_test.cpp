// Reading the server folder tree file into a tree view: what the file holds, and files
// that are missing, broken or not quite what the writer makes.
#include "serverdir/server_dir_info.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/xml.h"
#include "tests/serverdir/serverdir_test_util.h"

namespace {

using namespace sdtest;

class ServerDirTree : public ::testing::Test {
protected:
    std::u16string Save(const std::u16string& xml) {
        std::u16string path = platform::FromNarrow((ir.Tmp() / "ServerDirInfo.xml").string());
        EXPECT_TRUE(SaveFile(xml, path));
        return path;
    }
    std::string Load(const std::u16string& path) {
        FakeTree tree;
        LoadServerDirTree(&tree, path.c_str());
        return tree.Outline();
    }

    InstallRoot ir;
};

TEST_F(ServerDirTree, MissingFileLeavesTheTreeEmptyWithoutALogLine) {
    EXPECT_EQ(Load(ServerDirInfoPath()), "");
    EXPECT_EQ(ir.LogText().find("Failed"), std::string::npos);
    LoadServerDirTree(nullptr, ServerDirInfoPath().c_str());
    FakeTree tree;
    LoadServerDirTree(&tree, nullptr);
    EXPECT_TRUE(tree.nodes.empty());
}

TEST_F(ServerDirTree, UnreadableFileIsLogged) {
    std::ofstream(ir.Tmp() / "ServerDirInfo.xml") << "<ServerUserDir><BootDir name=\"x\"";
    EXPECT_EQ(Load(ServerDirInfoPath()), "");
    EXPECT_NE(ir.LogText().find("[Qumolan] Failed to call xml.Load, errorcode is "),
              std::string::npos)
        << ir.LogText();

    // Empty files cannot be read either; the last error says why.
    std::ofstream(ir.Tmp() / "ServerDirInfo.xml", std::ios::trunc).flush();
    EXPECT_EQ(Load(ServerDirInfoPath()), "");
}

TEST_F(ServerDirTree, RootWithoutChildrenIsSilentlyEmpty) {
    EXPECT_EQ(Load(Save(u"<ServerUserDir></ServerUserDir>")), "");
    EXPECT_EQ(ir.LogText().find("Failed"), std::string::npos);
}

TEST_F(ServerDirTree, AttributesAndElementsAsTheReaderTakesThem) {
    // Any element name counts, the root element's name is not checked, "parenterid" is
    // not read, comments are passed over and only the first child of the root is taken.
    std::u16string path =
        Save(u"<Other>"
             u"<BootDir name=\"top\">"
             u"<X name=\"no fid\"/>"
             u"<!-- note -->"
             u"<BootDir name=\"spaced\" fid=\"  -12abc\" parenterid=\"7\"/>"
             u"<BootDir fid=\"99999999999\"><Y name=\"low\" fid=\"-99999999999\"/></BootDir>"
             u"<BootDir name=\"a&amp;b &lt;c&gt;\" fid=\"+5\"/>"
             u"<BootDir name=\"junk\" fid=\"x1\"/>"
             u"</BootDir>"
             u"<BootDir name=\"second top\" fid=\"1\"/>"
             u"</Other>");
    EXPECT_EQ(Load(path), "top=0\n"
                          "  no fid=0\n"
                          "  spaced=-12\n"
                          "  =2147483647\n"
                          "    low=-2147483648\n"
                          "  a&b <c>=5\n"
                          "  junk=0\n");
}

} // namespace
