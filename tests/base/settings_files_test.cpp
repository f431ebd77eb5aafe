#include "base/settings_files.h"

#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kFreshConf =
    "[common]\r\nshellmenu=1\r\nstartbyroot=0\r\nautoUpdate=1\r\nthreadNum=5\r\n";
const std::string kEnv("\x05\0\0\0\0\0\0\0\x01\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\0", 24);
const std::string kUsi(4, '\0');
const std::string kDir("\xff\xff\xff\xff\xff\xff\xff\xff\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);

class SettingsFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qumo_set_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        prog = root / "bin";
        fs::create_directory(prog);
        folder = platform::FromNarrow(prog.string() + "/");
    }
    void TearDown() override {
        chmod(prog.c_str(), 0755);
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Put(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }
    std::size_t Entries(const fs::path& d) {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(d), fs::directory_iterator()));
    }

    fs::path root, prog;
    std::u16string folder;
};

} // namespace

TEST_F(SettingsFilesTest, FirstAndSecondExitWriteExactBytes) {
    SaveSettingsFiles(folder, SettingsOptions{}, "10086");
    EXPECT_EQ(Read(prog / "qumo.env"), kEnv);
    EXPECT_EQ(Read(prog / "qumo.conf"), kFreshConf);
    EXPECT_EQ(Read(prog / "10086.usi"), kUsi);
    EXPECT_EQ(Read(prog / "10086.dir"), kDir);
    EXPECT_EQ(Entries(prog), 4u);

    SaveSettingsFiles(folder, SettingsOptions{}, "10086");
    EXPECT_EQ(Read(prog / "qumo.env"), kEnv);
    EXPECT_EQ(Read(prog / "qumo.conf"), kFreshConf);
    EXPECT_EQ(Read(prog / "10086.usi"), kUsi);
    EXPECT_EQ(Read(prog / "10086.dir"), kDir);
}

TEST_F(SettingsFilesTest, OptionValuesGoLittleEndianInTheirOrder) {
    SettingsOptions o;
    o.threadNum = 0x01020304;
    o.startbyroot = -2;
    o.autoUpdate = 0;
    o.shellmenu = 7;
    SaveSettingsFiles(folder, o, nullptr);
    EXPECT_EQ(
        Read(prog / "qumo.env"),
        std::string("\x04\x03\x02\x01\xfe\xff\xff\xff\0\0\0\0\x07\0\0\0\0\0\0\0\0\0\0\0", 24));
    EXPECT_EQ(Read(prog / "qumo.conf"), "[common]\r\nshellmenu=7\r\nstartbyroot=-2\r\n"
                                        "autoUpdate=0\r\nthreadNum=16909060\r\n");
}

TEST_F(SettingsFilesTest, ExistingSectionsAndCommentsArePreserved) {
    Put(prog / "qumo.conf", "[other]\r\nx=1\r\n");
    Put(prog / "qumo.env", std::string(100, 'z'));
    SaveSettingsFiles(folder, SettingsOptions{}, "");
    EXPECT_EQ(Read(prog / "qumo.conf"), "[other]\r\nx=1\r\n\r\n" + kFreshConf);
    EXPECT_EQ(Read(prog / "qumo.env"), kEnv); // rewritten whole, not patched

    Put(prog / "qumo.conf", "[common]\r\n;threadNum=3\r\n[tail]\r\ny=2\r\n");
    SaveSettingsFiles(folder, SettingsOptions{}, "");
    EXPECT_EQ(Read(prog / "qumo.conf"),
              "[common]\r\nshellmenu=1\r\nstartbyroot=0\r\nautoUpdate=1\r\n"
              "threadNum=5\r\n;threadNum=3\r\n[tail]\r\ny=2\r\n");
}

TEST_F(SettingsFilesTest, NoUserMeansNoPerUserFiles) {
    SaveSettingsFiles(folder, SettingsOptions{}, "");
    SaveSettingsFiles(folder, SettingsOptions{}, nullptr);
    EXPECT_EQ(Entries(prog), 2u);
    EXPECT_TRUE(fs::exists(prog / "qumo.env"));
    EXPECT_TRUE(fs::exists(prog / "qumo.conf"));
}

TEST_F(SettingsFilesTest, OldDirFileIsReplacedButAFolderOfThatNameIsLeftAlone) {
    Put(prog / "u1.dir", std::string(300, 'q'));
    SaveSettingsFiles(folder, SettingsOptions{}, "u1");
    EXPECT_EQ(Read(prog / "u1.dir"), kDir);

    fs::create_directory(prog / "u2.dir");
    Put(prog / "u2.dir" / "keep", "k");
    SaveSettingsFiles(folder, SettingsOptions{}, "u2");
    EXPECT_TRUE(fs::is_directory(prog / "u2.dir"));
    EXPECT_EQ(Read(prog / "u2.dir" / "keep"), "k");
    EXPECT_EQ(Read(prog / "u2.usi"), kUsi);
}

TEST_F(SettingsFilesTest, UserIdNeverLeavesTheProgramFolder) {
    for (const char* uid : {"../escaped", "a/b", "/tmp/abs", "..", ".", "x\\y"})
        SaveSettingsFiles(folder, SettingsOptions{}, uid);
    EXPECT_EQ(Entries(prog), 2u); // only qumo.env and qumo.conf
    EXPECT_EQ(Entries(root), 1u); // nothing beside the program folder
    EXPECT_FALSE(fs::exists("/tmp/abs.usi"));

    // Non-ASCII ids are fine: the name is the id's bytes.
    SaveSettingsFiles(folder, SettingsOptions{}, "\xe7\x94\xa8\xe6\x88\xb7");
    EXPECT_EQ(Read(prog / "\xe7\x94\xa8\xe6\x88\xb7.usi"), kUsi);
}

TEST_F(SettingsFilesTest, FolderThatCannotHoldFilesFailsSilently) {
    // A "folder" that is a regular file refuses every create, even for a privileged user.
    Put(root / "notafolder", "x");
    SaveSettingsFiles(platform::FromNarrow((root / "notafolder").string() + "/"), SettingsOptions{},
                      "u");
    EXPECT_EQ(Read(root / "notafolder"), "x");
}

TEST_F(SettingsFilesTest, ReadOnlyFolderFailsSilently) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permission bits do not bind a privileged user";
    ASSERT_EQ(chmod(prog.c_str(), 0555), 0);
    SaveSettingsFiles(folder, SettingsOptions{}, "u");
    EXPECT_EQ(Entries(prog), 0u);
}

TEST(IsPlainFileName, Components) {
    EXPECT_TRUE(IsPlainFileName(u"10086"));
    EXPECT_TRUE(IsPlainFileName(u"..a"));
    EXPECT_FALSE(IsPlainFileName(u""));
    EXPECT_FALSE(IsPlainFileName(u".."));
    EXPECT_FALSE(IsPlainFileName(u"a/b"));
    EXPECT_FALSE(IsPlainFileName(u"a\\b"));
    EXPECT_FALSE(IsPlainFileName(std::u16string(u"a\0b", 3)));
}
