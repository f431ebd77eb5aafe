#include "app/app_settings.h"
#include "app/global_var.h"
#include "app/program_paths.h"

#include "app_test_util.h"
#include "platform/lasterror.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using apptest::ReadBytes;

namespace {

std::u16string U(const fs::path& p) {
    return platform::FromNarrow(p.string());
}

void Put(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// A tree of items given as child -> (parent, text).
class FakeTree : public ITreeView {
public:
    std::map<TreeItemHandle, std::pair<TreeItemHandle, std::u16string>> items;
    std::u16string GetItemText(TreeItemHandle item) const override {
        auto it = items.find(item);
        return it == items.end() ? u"" : it->second.second;
    }
    TreeItemHandle GetParentItem(TreeItemHandle item) const override {
        auto it = items.find(item);
        return it == items.end() ? nullptr : it->second.first;
    }
};

class GlobalVarTest : public ::testing::Test {
protected:
    void TearDown() override { CGlobalVar::ClearUserState(); }
    apptest::ProgramFolder folder;
};

} // namespace

TEST_F(GlobalVarTest, FileLengthOfAFileAFolderAndAHugeSparseFile) {
    Put(folder.root / "five", "12345");
    std::int64_t len = -1;
    EXPECT_EQ(CGlobalVar::GetFileLength(U(folder.root / "five").c_str(), &len), 0);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(CGlobalVar::GetFileLength(U(folder.root).c_str(), &len), 0);
    EXPECT_EQ(len, 0);
    // Lengths beyond 32 bits survive.
    const fs::path big = folder.root / "big";
    Put(big, "");
    fs::resize_file(big, 5'000'000'000ull);
    EXPECT_EQ(CGlobalVar::GetFileLength(U(big).c_str(), &len), 0);
    EXPECT_EQ(len, 5'000'000'000ll);
    EXPECT_EQ(folder.LogText(), "");
}

TEST_F(GlobalVarTest, FileLengthOfAMissingFileLogsErrorTwo) {
    const std::u16string missing = U(folder.root / "missing.jpg");
    std::int64_t len = 1234;
    EXPECT_EQ(CGlobalVar::GetFileLength(missing.c_str(), &len), 2);
    EXPECT_EQ(len, 1234); // left as the caller set it
    EXPECT_EQ(platform::GetLastErrorCode(), 2);
    const std::string log = folder.LogText();
    const std::string line = "[INFO] - Failed to call GetFileAttributesEx file (" +
                             (folder.root / "missing.jpg").string() + "), error id (0x2)\r\n";
    ASSERT_GE(log.size(), line.size());
    EXPECT_EQ(log.substr(log.size() - line.size()), line);
    EXPECT_EQ(log.find('\n'), log.size() - 1); // exactly one line

    // A null path is a bad parameter and is not logged.
    EXPECT_EQ(CGlobalVar::GetFileLength(nullptr, &len), 87);
    EXPECT_EQ(len, 1234);
    EXPECT_EQ(folder.LogText(), log);
}

TEST_F(GlobalVarTest, CopyFileForceReplacesAndUnlocksTheSource) {
    const fs::path src = folder.root / "src.txt", dst = folder.root / "dst.txt";
    Put(src, "new content");
    Put(dst, "old content that is longer");
    chmod(src.c_str(), 0444);
    EXPECT_TRUE(CGlobalVar::CopyFileForce(U(src).c_str(), U(dst).c_str()));
    EXPECT_EQ(ReadBytes(dst), "new content");
    struct stat st {};
    ASSERT_EQ(stat(src.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);

    EXPECT_FALSE(CGlobalVar::CopyFileForce(nullptr, U(dst).c_str()));
    EXPECT_FALSE(CGlobalVar::CopyFileForce(U(src).c_str(), nullptr));
    EXPECT_FALSE(CGlobalVar::CopyFileForce(U(folder.root / "none").c_str(), U(dst).c_str()));
    EXPECT_EQ(ReadBytes(dst), "new content");
    // Onto itself: refused, and the file is not destroyed.
    EXPECT_FALSE(CGlobalVar::CopyFileForce(U(src).c_str(), U(src).c_str()));
    EXPECT_EQ(ReadBytes(src), "new content");
}

TEST_F(GlobalVarTest, DeletePathRemovesFilesAndTreesButNotWhatLinksPointTo) {
    const fs::path outside = folder.root / "outside.txt";
    Put(outside, "keep");
    const fs::path tree = folder.root / "tree";
    fs::create_directories(tree / "a" / "b");
    Put(tree / "a" / "b" / "f", "x");
    fs::create_symlink(outside, tree / "a" / "link");
    EXPECT_TRUE(CGlobalVar::DeletePath((U(tree) + u"/").c_str()));
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_EQ(ReadBytes(outside), "keep");

    EXPECT_TRUE(CGlobalVar::DeletePath(U(outside).c_str()));
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(CGlobalVar::DeletePath(U(outside).c_str())); // already gone
    EXPECT_FALSE(CGlobalVar::DeletePath(nullptr));
    EXPECT_FALSE(CGlobalVar::DeletePath(u""));
    EXPECT_FALSE(CGlobalVar::DeletePath(u"/"));
    EXPECT_FALSE(CGlobalVar::DeletePath(u"//"));
}

TEST_F(GlobalVarTest, TreeItemPathJoinsFromTheTop) {
    FakeTree tree;
    int a, b, c, loop1, loop2;
    tree.items[&a] = {nullptr, u"我的相册"};
    tree.items[&b] = {&a, u"2013"};
    tree.items[&c] = {&b, u"五月"};
    EXPECT_EQ(CGlobalVar::GetTreeItemPath(&tree, &a), u"我的相册");
    EXPECT_EQ(CGlobalVar::GetTreeItemPath(&tree, &c), u"我的相册/2013/五月");
    EXPECT_EQ(CGlobalVar::GetTreeItemPath(&tree, nullptr), u"");
    EXPECT_EQ(CGlobalVar::GetTreeItemPath(nullptr, &c), u"");
    // Parent links that loop end instead of hanging.
    tree.items[&loop1] = {&loop2, u"x"};
    tree.items[&loop2] = {&loop1, u"y"};
    EXPECT_FALSE(CGlobalVar::GetTreeItemPath(&tree, &loop1).empty());
}

TEST_F(GlobalVarTest, SetUserInfoFillsBothStoresAndLogoutClearsOnlyTheGlobals) {
    CAppSettings s;
    s.SetUserInfo("10086", "tok-abc", "\xe5\xb0\x8f\xe6\x98\x8e", "http://127.0.0.1/h.png", 300,
                  1000);
    EXPECT_STREQ(s.m_szUid, "10086");
    EXPECT_STREQ(s.m_szToken, "tok-abc");
    EXPECT_EQ(s.m_strNick, u"小明");
    EXPECT_EQ(CGlobalVar::m_strNick, u"小明");
    EXPECT_EQ(CGlobalVar::m_strUid, u"10086");
    EXPECT_EQ(CGlobalVar::m_strToken, u"tok-abc");
    EXPECT_EQ(CGlobalVar::m_strHeadface, u"http://127.0.0.1/h.png");
    EXPECT_EQ(CGlobalVar::m_strUidA, "10086");
    EXPECT_EQ(CGlobalVar::m_strTokenA, "tok-abc");
    EXPECT_EQ(s.m_nUsedSpace, 300);
    EXPECT_EQ(s.m_nTotalSpace, 1000);
    EXPECT_EQ(CGlobalVar::m_nUsedSpace, 300);
    EXPECT_EQ(CGlobalVar::m_nTotalSpace, 1000);

    CGlobalVar::m_strAccount = u"user";
    CGlobalVar::m_strPassword = u"pw";
    CGlobalVar::m_strCurUploadPath = u"/x/y.jpg";
    CGlobalVar::m_strNetDirPath = u"相册";
    CGlobalVar::m_nUploadCtrl = 2;
    CGlobalVar::m_strInstallRoot = u"/opt/qumo/";
    CGlobalVar::ClearUserState();
    for (const std::u16string* v :
         {&CGlobalVar::m_strAccount, &CGlobalVar::m_strPassword, &CGlobalVar::m_strUid,
          &CGlobalVar::m_strToken, &CGlobalVar::m_strNick, &CGlobalVar::m_strHeadface,
          &CGlobalVar::m_strCurUploadPath, &CGlobalVar::m_strNetDirPath})
        EXPECT_TRUE(v->empty());
    EXPECT_TRUE(CGlobalVar::m_strUidA.empty());
    EXPECT_TRUE(CGlobalVar::m_strTokenA.empty());
    EXPECT_EQ(CGlobalVar::m_nUsedSpace, 0);
    EXPECT_EQ(CGlobalVar::m_nTotalSpace, 0);
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl.load(), 0);
    EXPECT_EQ(CGlobalVar::m_strInstallRoot, u"/opt/qumo/"); // paths stay
    CGlobalVar::m_strInstallRoot.clear();
    // The store keeps the previous user's bytes until the next login.
    EXPECT_STREQ(s.m_szUid, "10086");
    EXPECT_STREQ(s.m_szToken, "tok-abc");
    EXPECT_EQ(s.m_strNick, u"小明");
}

TEST_F(GlobalVarTest, SetUserInfoNeverOverrunsItsFields) {
    auto s = std::make_unique<CAppSettings>();
    std::memset(s->m_szHeadface, 'z', sizeof s->m_szHeadface);
    const std::string longUid(100, '7'), longToken(200, 't'), longNick(500, 'n'),
        longHead(1000, 'h');
    s->SetUserInfo(longUid.c_str(), longToken.c_str(), longNick.c_str(), longHead.c_str(), 1, 2);
    EXPECT_EQ(std::string(s->m_szUid), std::string(31, '7'));
    EXPECT_EQ(std::string(s->m_szToken), std::string(63, 't'));
    EXPECT_EQ(std::string(s->m_szNick), std::string(127, 'n'));
    EXPECT_EQ(std::string(s->m_szHeadface), std::string(255, 'h'));
    EXPECT_EQ(CGlobalVar::m_strUidA, std::string(31, '7'));
    EXPECT_EQ(CGlobalVar::m_strHeadface.size(), 255u);
    // Null values count as empty.
    s->SetUserInfo(nullptr, nullptr, nullptr, nullptr, 0, 0);
    EXPECT_STREQ(s->m_szUid, "");
    EXPECT_STREQ(s->m_szHeadface, "");
    EXPECT_TRUE(CGlobalVar::m_strUid.empty());
    // Defaults of a new store.
    CAppSettings fresh;
    EXPECT_EQ(fresh.m_nUsedSpace, 0);
    EXPECT_EQ(fresh.m_nTotalSpace, 1);
    EXPECT_EQ(fresh.m_options.threadNum, 5);
    EXPECT_EQ(fresh.m_options.startbyroot, 0);
    EXPECT_EQ(fresh.m_options.autoUpdate, 1);
    EXPECT_EQ(fresh.m_options.shellmenu, 1);
}

TEST_F(GlobalVarTest, StoreWritesTheExitFilesBesideTheProgramWhenDestroyed) {
    {
        CAppSettings s;
        s.SetUserInfo("u77", "t", "n", "h", 0, 0);
        EXPECT_FALSE(fs::exists(folder.bin / "qumo.env"));
    }
    EXPECT_EQ(ReadBytes(folder.bin / "qumo.env").size(), 24u);
    EXPECT_EQ(ReadBytes(folder.bin / "qumo.conf"),
              "[common]\r\nshellmenu=1\r\nstartbyroot=0\r\nautoUpdate=1\r\nthreadNum=5\r\n");
    EXPECT_EQ(ReadBytes(folder.bin / "u77.usi"), std::string(4, '\0'));
    EXPECT_EQ(ReadBytes(folder.bin / "u77.dir").size(), 24u);
    EXPECT_EQ(folder.LogText(), ""); // nothing is logged
}

TEST_F(GlobalVarTest, TheOneStoreWritesItsFilesAtProcessEnd) {
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        GetAppSettings().SetUserInfo("9527", "t", "n", "h", 1, 2);
        bool same = &GetAppSettings() == &GetAppSettings();
        std::exit(same ? 0 : 3); // runs the static destructors
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadBytes(folder.bin / "qumo.env").size(), 24u);
    EXPECT_EQ(ReadBytes(folder.bin / "9527.usi"), std::string(4, '\0'));
    EXPECT_EQ(ReadBytes(folder.bin / "9527.dir").size(), 24u);
}

TEST(ProgramPaths, ComputedFromTheProgramsFile) {
    CGlobalVar::m_strInstallRoot.clear();
    EXPECT_TRUE(ComputeProgramPaths(u"/opt/qumo/bin/QumoClient"));
    EXPECT_EQ(CGlobalVar::m_strLocalConfigPath, u"/opt/qumo/bin/QumolanLocalConfig.xml");
    EXPECT_EQ(CGlobalVar::m_strUploadListPath, u"/opt/qumo/bin/QumolanUploadList.xml");
    EXPECT_EQ(CGlobalVar::m_strInstallRoot, u"/opt/qumo/");
    EXPECT_EQ(CGlobalVar::m_strSkinPath, u"/opt/qumo/skin/blue/config.xml");

    // A name without a folder changes nothing.
    EXPECT_FALSE(ComputeProgramPaths(u"QumoClient"));
    EXPECT_EQ(CGlobalVar::m_strInstallRoot, u"/opt/qumo/");

    // A program in the root folder has no parent folder to be the install root.
    CGlobalVar::m_strInstallRoot.clear();
    CGlobalVar::m_strSkinPath.clear();
    EXPECT_TRUE(ComputeProgramPaths(u"/QumoClient"));
    EXPECT_EQ(CGlobalVar::m_strLocalConfigPath, u"/QumolanLocalConfig.xml");
    EXPECT_EQ(CGlobalVar::m_strInstallRoot, u"");
    EXPECT_EQ(CGlobalVar::m_strSkinPath, u"");

    platform::OverrideModuleFileName(u"/srv/酷摩/app/QumoClient");
    EXPECT_TRUE(ComputeProgramPaths());
    EXPECT_EQ(CGlobalVar::m_strInstallRoot, u"/srv/酷摩/");
    EXPECT_EQ(CGlobalVar::m_strUploadListPath, u"/srv/酷摩/app/QumolanUploadList.xml");
    platform::OverrideModuleFileName(u"");
    for (auto* v : {&CGlobalVar::m_strInstallRoot, &CGlobalVar::m_strSkinPath,
                    &CGlobalVar::m_strLocalConfigPath, &CGlobalVar::m_strUploadListPath})
        v->clear();
}
