#include "base/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qumo_ini_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        path = (dir / "qumo.conf").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void Put(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string Get() {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Write(const char* section, const char* key, const char* value) {
        return IniWriteValue(path.c_str(), section, key, value);
    }

    fs::path dir;
    std::string path;
};

} // namespace

TEST_F(IniFileTest, NewFileGetsSectionAndKeysAtTheTopInCrLf) {
    CIniFile ini(path, "common");
    EXPECT_TRUE(ini.WriteInt("threadNum", 5));
    EXPECT_EQ(Get(), "[common]\r\nthreadNum=5\r\n");
    EXPECT_TRUE(ini.WriteInt("autoUpdate", 1));
    EXPECT_TRUE(ini.WriteInt("startbyroot", -7));
    EXPECT_EQ(Get(), "[common]\r\nstartbyroot=-7\r\nautoUpdate=1\r\nthreadNum=5\r\n");
}

TEST_F(IniFileTest, ExistingKeyValueIsReplacedInPlace) {
    Put("; head\r\n[common]\r\na=1\r\nthreadNum=5\r\nb=2\r\n");
    EXPECT_TRUE(Write("common", "threadNum", "12345"));
    EXPECT_EQ(Get(), "; head\r\n[common]\r\na=1\r\nthreadNum=12345\r\nb=2\r\n");
    EXPECT_TRUE(Write("common", "threadNum", ""));
    EXPECT_EQ(Get(), "; head\r\n[common]\r\na=1\r\nthreadNum=\r\nb=2\r\n");
    // The value runs to the end of the line, "=" signs in it included.
    Put("[common]\r\nk=x=y ; not a comment\r\nz=1\r\n");
    EXPECT_TRUE(Write("common", "k", "v"));
    EXPECT_EQ(Get(), "[common]\r\nk=v\r\nz=1\r\n");
}

TEST_F(IniFileTest, LastLineWithoutLineBreak) {
    Put("[s]\r\nk=old");
    EXPECT_TRUE(Write("s", "k", "new"));
    EXPECT_EQ(Get(), "[s]\r\nk=new");
}

TEST_F(IniFileTest, MissingSectionIsAppendedAfterABlankLine) {
    Put("[other]\r\nx=1\r\n");
    EXPECT_TRUE(Write("common", "threadNum", "5"));
    EXPECT_EQ(Get(), "[other]\r\nx=1\r\n\r\n[common]\r\nthreadNum=5\r\n");
    // Without a final line break there is only the line break the writer adds.
    Put("x=1");
    EXPECT_TRUE(Write("common", "k", "v"));
    EXPECT_EQ(Get(), "x=1\r\n[common]\r\nk=v\r\n");
}

TEST_F(IniFileTest, CommentNamingTheKeyIsKeptAndTheKeyAdded) {
    Put("[common]\r\n;threadNum=9\r\n");
    EXPECT_TRUE(Write("common", "threadNum", "5"));
    EXPECT_EQ(Get(), "[common]\r\nthreadNum=5\r\n;threadNum=9\r\n");
}

TEST_F(IniFileTest, NamesMatchExactlyAndInFull) {
    Put("[Common]\r\nthreadNum=1\r\n[common]\r\nThreadNum=2\r\nthreadNumber=3\r\n threadNum=4\r\n");
    EXPECT_TRUE(Write("common", "threadNum", "5"));
    EXPECT_EQ(Get(), "[Common]\r\nthreadNum=1\r\n[common]\r\nthreadNum=5\r\nThreadNum=2\r\n"
                     "threadNumber=3\r\n threadNum=4\r\n");
    // "[common]" that does not open a line is not a section header.
    Put("x=[common]\r\n");
    EXPECT_TRUE(Write("common", "k", "v"));
    EXPECT_EQ(Get(), "x=[common]\r\n\r\n[common]\r\nk=v\r\n");
    // A longer section name sharing the prefix is another section.
    Put("[commonx]\r\nk=1\r\n");
    EXPECT_TRUE(Write("common", "k", "2"));
    EXPECT_EQ(Get(), "[commonx]\r\nk=1\r\n\r\n[common]\r\nk=2\r\n");
}

TEST_F(IniFileTest, KeySearchStopsAtTheNextSection) {
    Put("[common]\r\na=1\r\n[other]\r\nk=2\r\n");
    EXPECT_TRUE(Write("common", "k", "3"));
    EXPECT_EQ(Get(), "[common]\r\nk=3\r\na=1\r\n[other]\r\nk=2\r\n");
    EXPECT_TRUE(Write("other", "k", "4"));
    EXPECT_EQ(Get(), "[common]\r\nk=3\r\na=1\r\n[other]\r\nk=4\r\n");
}

TEST_F(IniFileTest, BodyStartsAfterBlankSpaceFollowingTheHeader) {
    Put("[common]\r\n\r\n  \r\nk=1\r\n");
    EXPECT_TRUE(Write("common", "n", "2"));
    EXPECT_EQ(Get(), "[common]\r\n\r\n  \r\nn=2\r\nk=1\r\n");
    Put("[common]\r\n");
    EXPECT_TRUE(Write("common", "n", "2"));
    EXPECT_EQ(Get(), "[common]\r\nn=2\r\n");
}

TEST_F(IniFileTest, HeaderEndingTheFileDoesNotSwallowTheKey) {
    Put("[common]");
    EXPECT_TRUE(Write("common", "n", "2"));
    EXPECT_EQ(Get(), "[common]\r\nn=2\r\n");
}

TEST_F(IniFileTest, TooLargeFileIsRefusedAndLeftUntouched) {
    std::string big = "[common]\r\n" + std::string(17 * 1024, ';') + "\r\n";
    Put(big);
    EXPECT_FALSE(Write("common", "threadNum", "5"));
    EXPECT_EQ(Get(), big);
    // Exactly at the limit (after CR LF pairs are read as one character) still works.
    std::string body(16 * 1024 - 10, ';');
    Put("[common]\r\n" + body);
    EXPECT_TRUE(Write("common", "k", "1"));
    EXPECT_EQ(Get(), "[common]\r\nk=1\r\n" + body);
}

TEST_F(IniFileTest, FailuresReturnFalse) {
    EXPECT_FALSE(IniWriteValue(nullptr, "s", "k", "v"));
    EXPECT_FALSE(IniWriteValue(path.c_str(), nullptr, "k", "v"));
    EXPECT_FALSE(IniWriteValue(path.c_str(), "s", nullptr, "v"));
    EXPECT_FALSE(IniWriteValue(path.c_str(), "s", "k", nullptr));
    EXPECT_FALSE(fs::exists(path));
    // Missing folder, and a folder where the file should be.
    EXPECT_FALSE(IniWriteValue((dir / "no" / "qumo.conf").c_str(), "s", "k", "v"));
    fs::create_directory(path);
    EXPECT_FALSE(Write("s", "k", "v"));
    EXPECT_TRUE(fs::is_directory(path));
}
