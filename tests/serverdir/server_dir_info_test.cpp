// The server folder tree file byte for byte, the cache directories it mirrors, and the
// names and lists the server may send that must not reach outside the cache.
#include "serverdir/server_dir_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/serverdir/serverdir_test_util.h"

namespace {

using namespace sdtest;

std::string FileBytes(const InstallRoot& ir) {
    return apptest::ReadBytes(ir.Tmp() / "ServerDirInfo.xml");
}

TEST(ServerDirInfo, ThreeLevelsEntitiesAndSameNamedSiblingsExactBytes) {
    InstallRoot ir;
    std::vector<ServerFolder> list = {
        Folder(u"同名 & <根>", 0, -1), Folder(u"A&B", 1, 0),     Folder(u"x<y", 2, 1),
        Folder(u"deep", 3, 2),         Folder(u"same", 4, 0),    Folder(u"sub", 8, 4),
        Folder(u"same", 5, 0),         Folder(u"orphan", 6, 99), Folder(u"late", 7, 1),
    };
    ASSERT_EQ(WriteServerDirInfo(list), 1);

    const std::u16string expected =
        u"\r\n<ServerUserDir>"
        u"\r\n\t<BootDir name=\"同名 &amp; &lt;根&gt;\" fid=\"0\" parenterid=\"-1\" >"
        u"\r\n\t\t<BootDir name=\"A&amp;B\" fid=\"1\" parenterid=\"0\" >"
        u"\r\n\t\t\t<BootDir name=\"x&lt;y\" fid=\"2\" parenterid=\"1\" >"
        u"\r\n\t\t\t\t<BootDir name=\"deep\" fid=\"3\" parenterid=\"2\" />"
        u"\r\n\t\t\t</BootDir>"
        u"\r\n\t\t\t<BootDir name=\"late\" fid=\"7\" parenterid=\"1\" />"
        u"\r\n\t\t</BootDir>"
        u"\r\n\t\t<BootDir name=\"same\" fid=\"4\" parenterid=\"0\" >"
        u"\r\n\t\t\t<BootDir name=\"sub\" fid=\"8\" parenterid=\"4\" />"
        u"\r\n\t\t</BootDir>"
        u"\r\n\t\t<BootDir name=\"same\" fid=\"5\" parenterid=\"0\" />"
        u"\r\n\t</BootDir>"
        u"\r\n</ServerUserDir>";
    EXPECT_EQ(FileBytes(ir), SavedDocument(expected));

    // The directories mirror the tree; the second "same" made its directory anew, so the
    // first one's sub-folder is gone while both stay in the file. The orphan has none.
    const fs::path root = ir.Tmp() / "同名 & <根>";
    EXPECT_EQ(Names(ir.Tmp()), (std::vector<std::string>{"ServerDirInfo.xml", "同名 & <根>"}));
    EXPECT_EQ(Names(root), (std::vector<std::string>{"A&B", "same"}));
    EXPECT_EQ(Names(root / "A&B"), (std::vector<std::string>{"late", "x<y"}));
    EXPECT_EQ(Names(root / "A&B" / "x<y"), (std::vector<std::string>{"deep"}));
    EXPECT_TRUE(Names(root / "same").empty());

    // Read back: names unchanged, fids as item data, children in file order.
    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    EXPECT_EQ(tree.Outline(), "同名 & <根>=0\n"
                              "  A&B=1\n"
                              "    x<y=2\n"
                              "      deep=3\n"
                              "    late=7\n"
                              "  same=4\n"
                              "    sub=8\n"
                              "  same=5\n");
    EXPECT_EQ(platform::ToNarrow(ServerFolderCacheDir(&tree, tree.FindByData(3))),
              (root / "A&B" / "x<y" / "deep").string());
}

TEST(ServerDirInfo, RootOnlyGivesOneElementAndOneDirectory) {
    InstallRoot ir;
    // Whatever stood in the root folder's directory before is cleared.
    fs::create_directories(ir.Tmp() / "我的" / "old");
    std::ofstream(ir.Tmp() / "我的" / "old.jpg") << "x";
    ASSERT_EQ(WriteServerDirInfo({Folder(u"我的", 0, -1)}), 1);
    EXPECT_EQ(FileBytes(ir),
              SavedDocument(u"\r\n<ServerUserDir>"
                            u"\r\n\t<BootDir name=\"我的\" fid=\"0\" parenterid=\"-1\" />"
                            u"\r\n</ServerUserDir>"));
    EXPECT_EQ(Names(ir.Tmp()), (std::vector<std::string>{"ServerDirInfo.xml", "我的"}));
    EXPECT_TRUE(Names(ir.Tmp() / "我的").empty());
}

TEST(ServerDirInfo, FirstRootEntryWinsAndItsChildrenFollowListOrder) {
    InstallRoot ir;
    ASSERT_EQ(WriteServerDirInfo({Folder(u"b", 2, 0), Folder(u"r1", 0, -1), Folder(u"a", 1, 0),
                                  Folder(u"r2", 0, -1)}),
              1);
    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    EXPECT_EQ(tree.Outline(), "r1=0\n  b=2\n  a=1\n");
    EXPECT_FALSE(fs::exists(ir.Tmp() / "r2"));
}

TEST(ServerDirInfo, NothingToDoLeavesTheDiskAlone) {
    InstallRoot ir;
    ASSERT_EQ(WriteServerDirInfo({Folder(u"keep", 0, -1), Folder(u"c", 1, 0)}), 1);
    const auto before = Snapshot(ir.Root());
    EXPECT_EQ(WriteServerDirInfo({}), 1);
    // No entry with fid 0 and parent -1: no root folder.
    EXPECT_EQ(WriteServerDirInfo({Folder(u"x", 0, 0), Folder(u"y", 1, -1), Folder(u"z", 2, 0)}), 1);
    EXPECT_EQ(Snapshot(ir.Root()), before);
}

TEST(ServerDirInfo, AnotherAccountReplacesTheFileAndKeepsTheFirstCache) {
    InstallRoot ir;
    ASSERT_EQ(WriteServerDirInfo({Folder(u"alice", 0, -1), Folder(u"trip", 1, 0)}), 1);
    std::ofstream(ir.Tmp() / "alice" / "trip" / "p.jpg") << "thumb";
    ASSERT_EQ(WriteServerDirInfo({Folder(u"bob", 0, -1)}), 1);
    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    EXPECT_EQ(tree.Outline(), "bob=0\n");
    EXPECT_EQ(apptest::ReadBytes(ir.Tmp() / "alice" / "trip" / "p.jpg"), "thumb");
}

TEST(ServerDirInfo, MissingCacheFolderIsMadeAndABlockedOneFailsWithoutWriting) {
    InstallRoot ir;
    fs::remove_all(ir.Root() / "lib");
    ASSERT_EQ(WriteServerDirInfo({Folder(u"r", 0, -1)}), 1);
    EXPECT_TRUE(fs::is_directory(ir.Tmp() / "r"));

    // "lib/tmp" is a file: the root folder's directory cannot be made.
    fs::remove_all(ir.Tmp());
    std::ofstream(ir.Tmp()) << "not a folder";
    EXPECT_EQ(WriteServerDirInfo({Folder(u"r", 0, -1)}), 0);
    EXPECT_EQ(apptest::ReadBytes(ir.Tmp()), "not a folder");

    // Without an install root nothing is written relative to the current directory.
    CGlobalVar::m_strInstallRoot.clear();
    EXPECT_EQ(WriteServerDirInfo({Folder(u"r", 0, -1)}), 0);
}

TEST(ServerDirInfo, ADirectoryThatCannotBeMadeEndsItsBranchOnly) {
    InstallRoot ir;
    // A chain of long names grows the path past what the system accepts.
    const std::u16string longName(200, u'n');
    std::vector<ServerFolder> list = {Folder(u"r", 0, -1), Folder(u"chain", 1, 0)};
    for (int level = 0; level < 30; ++level)
        list.push_back(Folder(longName, 100 + level, level == 0 ? 1 : 99 + level));
    // A later sibling of every chain folder: written only while its level did not fail.
    for (int level = 0; level < 30; ++level)
        list.push_back(Folder(u"sib", 200 + level, level == 0 ? 1 : 99 + level));
    list.push_back(Folder(u"after", 2, 0));
    ASSERT_EQ(WriteServerDirInfo(list), 1);

    // The first level whose path no longer fits.
    const std::size_t base = (ir.Tmp() / "r" / "chain").string().size();
    int failing = 0;
    while (base + static_cast<std::size_t>(failing + 1) * 201 < 4096)
        ++failing;
    ASSERT_GE(failing, 1);
    ASSERT_LT(failing, 29);

    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    const FakeTree::Node* failed = tree.FindByData(100 + failing);
    ASSERT_NE(failed, nullptr);
    EXPECT_TRUE(failed->children.empty()); // its children are not written
    EXPECT_EQ(tree.FindByData(101 + failing), nullptr);
    EXPECT_EQ(tree.FindByData(200 + failing), nullptr); // nor its later sibling
    EXPECT_NE(tree.FindByData(199 + failing), nullptr); // the level above goes on
    ASSERT_NE(tree.FindByData(2), nullptr);             // other branches go on
    EXPECT_TRUE(fs::is_directory(ir.Tmp() / "r" / "after"));
}

TEST(ServerDirInfo, ServerNamesNeverReachOutsideTheCache) {
    InstallRoot ir;
    // Things a writer trusting the names would delete or overwrite.
    fs::create_directories(ir.Root() / "victim");
    std::ofstream(ir.Root() / "victim" / "keep.txt") << "root";
    std::ofstream(ir.Root() / "lib" / "keep.txt") << "lib";
    std::ofstream(ir.Root() / "bin" / "QumolanUploadList.xml") << "queue";
    const fs::path outside = ir.Root().parent_path() / (ir.Root().filename().string() + "_x");
    fs::create_directories(outside);
    struct RemoveAtEnd {
        fs::path p;
        ~RemoveAtEnd() { fs::remove_all(p); }
    } removeOutside{outside};
    std::ofstream(outside / "keep.txt") << "outside";

    auto outsideCache = [&] {
        auto all = Snapshot(ir.Root());
        for (auto it = all.begin(); it != all.end();)
            it = it->first.rfind("lib/tmp", 0) == 0 ? all.erase(it) : std::next(it);
        all.erase("bin/log/QumoClient.log");
        return all;
    };
    const auto before = outsideCache();
    const auto outsideBefore = Snapshot(outside);

    std::vector<ServerFolder> list = {
        Folder(u"..", 0, -1),
        Folder(u"..", 1, 0),
        Folder(u".", 2, 0),
        Folder(u"a/b", 3, 0),
        Folder(u"../../victim", 4, 0),
        Folder(platform::FromNarrow("../../../" + ir.Root().filename().string() + "_x"), 5, 0),
        Folder(u"/", 6, 0),
        Folder(u"%2E%2E", 7, 0),
        Folder(u"..", 8, 1),
        Folder(u"ServerDirInfo.xml", 9, 0),
        Folder(std::u16string(u"\0/..", 4), 10, 0), // decodes to an empty name
    };
    EXPECT_EQ(WriteServerDirInfo(list), 1);
    // A second login with the same tree deletes and makes the directories again.
    EXPECT_EQ(WriteServerDirInfo(list), 1);

    EXPECT_EQ(outsideCache(), before);
    EXPECT_EQ(Snapshot(outside), outsideBefore);

    EXPECT_EQ(Names(ir.Tmp()), (std::vector<std::string>{"%2E.", "ServerDirInfo.xml"}));
    const std::string x = ir.Root().filename().string() + "_x";
    EXPECT_EQ(
        Names(ir.Tmp() / "%2E."),
        (std::vector<std::string>{"%", "%252E%252E", "%2E", "%2E.", "%2F", "..%2F..%2F..%2F" + x,
                                  "..%2F..%2Fvictim", "ServerDirInfo.xml", "a%2Fb"}));
    EXPECT_EQ(Names(ir.Tmp() / "%2E." / "%2E."), (std::vector<std::string>{"%2E."}));

    // The file and the trees keep the names as the server sent them, and each item's
    // cache directory is the one made for it.
    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    EXPECT_EQ(tree.Outline(), "..=0\n  ..=1\n    ..=8\n  .=2\n  a/b=3\n  ../../victim=4\n  " +
                                  std::string("../../../") + x + "=5\n  /=6\n  %2E%2E=7\n" +
                                  "  ServerDirInfo.xml=9\n  =10\n");
    for (int fid = 0; fid <= 10; ++fid) {
        std::string dir = platform::ToNarrow(ServerFolderCacheDir(&tree, tree.FindByData(fid)));
        EXPECT_TRUE(fs::is_directory(dir)) << dir;
        EXPECT_EQ(fs::weakly_canonical(dir).string().rfind(ir.Tmp().string() + "/", 0), 0u) << dir;
    }
}

TEST(ServerDirInfo, ARootFolderNamedLikeTheFileDoesNotTakeItsPlace) {
    InstallRoot ir;
    ASSERT_EQ(WriteServerDirInfo({Folder(u"ServerDirInfo.xml", 0, -1), Folder(u"c", 1, 0)}), 1);
    EXPECT_TRUE(fs::is_regular_file(ir.Tmp() / "ServerDirInfo.xml"));
    EXPECT_TRUE(fs::is_directory(ir.Tmp() / "%53erverDirInfo.xml" / "c"));
    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    EXPECT_EQ(platform::ToNarrow(ServerFolderCacheDir(&tree, tree.FindByData(1))),
              (ir.Tmp() / "%53erverDirInfo.xml" / "c").string());
}

TEST(ServerDirInfo, AListThatIsNotATreeVisitsEveryFidOnce) {
    InstallRoot ir;
    std::vector<ServerFolder> list = {
        Folder(u"r", 0, -1), Folder(u"a", 1, 0),
        Folder(u"b", 2, 1),  Folder(u"a2", 1, 2), // a is its own grandchild
        Folder(u"s", 3, 0),  Folder(u"s2", 3, 3), // a folder inside itself
        Folder(u"r2", 0, 1),                      // the root again, below a
        Folder(u"u", 4, 5),  Folder(u"v", 5, 4),  // a loop not reachable from the root
    };
    ASSERT_EQ(WriteServerDirInfo(list), 1);
    EXPECT_EQ(FileBytes(ir),
              SavedDocument(u"\r\n<ServerUserDir>"
                            u"\r\n\t<BootDir name=\"r\" fid=\"0\" parenterid=\"-1\" >"
                            u"\r\n\t\t<BootDir name=\"a\" fid=\"1\" parenterid=\"0\" >"
                            u"\r\n\t\t\t<BootDir name=\"b\" fid=\"2\" parenterid=\"1\" />"
                            u"\r\n\t\t</BootDir>"
                            u"\r\n\t\t<BootDir name=\"s\" fid=\"3\" parenterid=\"0\" />"
                            u"\r\n\t</BootDir>"
                            u"\r\n</ServerUserDir>"));
    EXPECT_TRUE(Names(ir.Tmp() / "r" / "a" / "b").empty());
}

// A tree deeper than the parser reads is cut where the reader's limit is: the file stays
// readable and shows every folder down to there.
TEST(ServerDirInfo, ATreeTooDeepToReadIsCutAtTheReadersLimit) {
    InstallRoot ir;
    std::vector<ServerFolder> list = {Folder(u"r", 0, -1)};
    for (int fid = 1; fid <= 300; ++fid)
        list.push_back(Folder(u"d", fid, fid - 1));
    ASSERT_EQ(WriteServerDirInfo(list), 1);

    FakeTree tree;
    LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
    const std::string outline = tree.Outline();
    const auto levels = std::count(outline.begin(), outline.end(), '\n');
    EXPECT_GE(levels, 250);
    EXPECT_LT(levels, 300);
}

} // namespace
