#include "platform/files.h"

#include "platform/codepage.h"
#include "platform/lasterror.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::FromNarrow;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo-files-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_root = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + m_root + "'").c_str()); }

    std::u16string P(const std::string& rel) const { return FromNarrow(m_root + "/" + rel); }
    std::string N(const std::string& rel) const { return m_root + "/" + rel; }
    void Write(const std::string& rel, const std::string& data) const {
        std::ofstream(N(rel), std::ios::binary | std::ios::trunc) << data;
    }
    std::string Read(const std::string& rel) const {
        std::string s;
        if (!platform::ReadWholeFile(P(rel), s, 1 << 20))
            return "<missing>";
        return s;
    }
    bool Exists(const std::string& rel) const {
        struct stat st;
        return ::lstat(N(rel).c_str(), &st) == 0;
    }

    std::string m_root;
};

TEST_F(FilesTest, AttributesOfFilesFoldersAndMissingPaths) {
    Write("f", std::string(12345, 'x'));
    platform::FileAttributes a;
    ASSERT_TRUE(platform::GetFileAttributesEx(P("f"), a));
    EXPECT_FALSE(a.isDirectory);
    EXPECT_EQ(a.size, 12345u);
    ASSERT_TRUE(platform::GetFileAttributesEx(FromNarrow(m_root), a));
    EXPECT_TRUE(a.isDirectory);
    EXPECT_EQ(a.size, 0u);

    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::GetFileAttributesEx(P("none"), a));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    EXPECT_FALSE(platform::GetFileAttributesEx(P("f/below"), a));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrPathNotFound);
    EXPECT_FALSE(platform::GetFileAttributesEx(u"", a));
}

TEST_F(FilesTest, SizesBeyondFourGigabytes) {
    int fd = ::open(N("sparse").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const off_t size = (off_t{5} << 30) + 3;
    bool grown = ::ftruncate(fd, size) == 0;
    ::close(fd);
    if (!grown)
        GTEST_SKIP() << "file system does not allow a 5 GiB sparse file";
    platform::FileAttributes a;
    ASSERT_TRUE(platform::GetFileAttributesEx(P("sparse"), a));
    EXPECT_EQ(a.size, static_cast<std::uint64_t>(size));
}

TEST_F(FilesTest, NonAsciiNames) {
    std::u16string name = FromNarrow(m_root) + u"/\u4E2D\u6587 \u00E9.txt";
    ASSERT_TRUE(platform::CreateDir(name));
    platform::FileAttributes a;
    ASSERT_TRUE(platform::GetFileAttributesEx(name, a));
    EXPECT_TRUE(a.isDirectory);
    EXPECT_TRUE(Exists("\xE4\xB8\xAD\xE6\x96\x87 \xC3\xA9.txt"));
}

TEST_F(FilesTest, MoveReplacesExistingTarget) {
    Write("a", "new");
    Write("b", "old content");
    ASSERT_TRUE(platform::MoveFileReplace(P("a"), P("b")));
    EXPECT_FALSE(Exists("a"));
    EXPECT_EQ(Read("b"), "new");

    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::MoveFileReplace(P("a"), P("c")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    EXPECT_FALSE(platform::MoveFileReplace(u"", P("c")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
}

TEST_F(FilesTest, MoveAcrossFileSystems) {
    // /dev/shm is a separate file system on most machines; skip where it is not.
    char tmpl[] = "/dev/shm/qumo-files-XXXXXX";
    if (!::mkdtemp(tmpl))
        GTEST_SKIP() << "no /dev/shm";
    std::string other = tmpl;
    struct stat s1, s2;
    ASSERT_EQ(::stat(other.c_str(), &s1), 0);
    ASSERT_EQ(::stat(m_root.c_str(), &s2), 0);
    if (s1.st_dev == s2.st_dev) {
        ::rmdir(other.c_str());
        GTEST_SKIP() << "/dev/shm shares the file system";
    }
    std::string data(300000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    Write("src", data);
    std::ofstream(other + "/dst") << "older";
    // A move that cannot happen leaves the source in place.
    bool failed = !platform::MoveFileReplace(P("src"), FromNarrow(other + "/nofolder/dst"));
    int failCode = platform::GetLastErrorCode();
    EXPECT_EQ(Read("src"), data);
    bool moved = platform::MoveFileReplace(P("src"), FromNarrow(other + "/dst"));
    std::string got;
    bool read = platform::ReadWholeFile(FromNarrow(other + "/dst"), got, 1 << 20);
    std::system(("rm -rf '" + other + "'").c_str());
    EXPECT_TRUE(failed);
    EXPECT_EQ(failCode, platform::kErrFileNotFound);
    EXPECT_TRUE(moved);
    EXPECT_TRUE(read);
    EXPECT_EQ(got, data);
    EXPECT_FALSE(Exists("src"));
}

TEST_F(FilesTest, CopyOverwritesAndKeepsSource) {
    Write("src", std::string("bin\0ary", 7));
    Write("dst", "a much longer previous content");
    ASSERT_TRUE(platform::CopyFileOver(P("src"), P("dst")));
    EXPECT_EQ(Read("dst"), std::string("bin\0ary", 7));
    EXPECT_EQ(Read("src"), std::string("bin\0ary", 7));

    // Onto itself, directly or through a link: refused, the file intact.
    ASSERT_EQ(::symlink(N("src").c_str(), N("link").c_str()), 0);
    EXPECT_FALSE(platform::CopyFileOver(P("src"), P("src")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrSharingViolation);
    EXPECT_FALSE(platform::CopyFileOver(P("src"), P("link")));
    EXPECT_EQ(Read("src"), std::string("bin\0ary", 7));

    EXPECT_FALSE(platform::CopyFileOver(P("none"), P("dst")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    EXPECT_FALSE(platform::CopyFileOver(FromNarrow(m_root), P("dst")));
    EXPECT_FALSE(platform::CopyFileOver(P("src"), P("nofolder/dst")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
}

TEST_F(FilesTest, DeleteTreeRemovesFilesAndFolders) {
    Write("single", "x");
    ASSERT_TRUE(platform::DeleteTree(P("single")));
    EXPECT_FALSE(Exists("single"));

    ASSERT_TRUE(platform::CreateDir(P("t")));
    ASSERT_TRUE(platform::CreateDir(P("t/a")));
    ASSERT_TRUE(platform::CreateDir(P("t/a/b")));
    ASSERT_TRUE(platform::CreateDir(P("t/empty")));
    Write("t/1", "1");
    Write("t/a/2", "2");
    Write("t/a/b/.hidden", "3");
    ASSERT_TRUE(platform::DeleteTree(P("t/")));
    EXPECT_FALSE(Exists("t"));

    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::DeleteTree(P("t")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    EXPECT_FALSE(platform::DeleteTree(u""));
    EXPECT_FALSE(platform::DeleteTree(u"/"));
    EXPECT_FALSE(platform::DeleteTree(u"///"));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
}

TEST_F(FilesTest, DeleteTreeNeverFollowsLinks) {
    ASSERT_TRUE(platform::CreateDir(P("outside")));
    Write("outside/keep", "precious");
    ASSERT_TRUE(platform::CreateDir(P("t")));
    ASSERT_EQ(::symlink(N("outside").c_str(), N("t/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink(N("outside/keep").c_str(), N("t/filelink").c_str()), 0);
    ASSERT_EQ(::symlink(N("gone").c_str(), N("t/dangling").c_str()), 0);
    ASSERT_TRUE(platform::DeleteTree(P("t")));
    EXPECT_FALSE(Exists("t"));
    EXPECT_EQ(Read("outside/keep"), "precious");

    // The path itself a link to a folder, with or without a trailing separator: only the
    // link goes.
    ASSERT_EQ(::symlink(N("outside").c_str(), N("top").c_str()), 0);
    ASSERT_TRUE(platform::DeleteTree(P("top/")));
    EXPECT_FALSE(Exists("top"));
    EXPECT_EQ(Read("outside/keep"), "precious");
}

TEST_F(FilesTest, DeleteTreeReportsWhatItCannotRemove) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    ASSERT_TRUE(platform::CreateDir(P("t")));
    ASSERT_TRUE(platform::CreateDir(P("t/locked")));
    Write("t/locked/f", "x");
    Write("t/other", "y");
    ASSERT_EQ(::chmod(N("t/locked").c_str(), 0500), 0);
    EXPECT_FALSE(platform::DeleteTree(P("t")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);
    EXPECT_TRUE(Exists("t/locked/f"));
    EXPECT_FALSE(Exists("t/other")); // what could go, went
    ::chmod(N("t/locked").c_str(), 0700);
}

TEST_F(FilesTest, CreateDirOneLevelOnly) {
    ASSERT_TRUE(platform::CreateDir(P("d")));
    EXPECT_FALSE(platform::CreateDir(P("d")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAlreadyExists);
    EXPECT_FALSE(platform::CreateDir(P("x/y")));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    EXPECT_FALSE(platform::CreateDir(u""));
}

TEST_F(FilesTest, ReadWholeFileHonoursTheLimit) {
    std::string data(1000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i);
    Write("f", data);
    std::string out = "stale";
    ASSERT_TRUE(platform::ReadWholeFile(P("f"), out, 1000));
    EXPECT_EQ(out, data);
    EXPECT_FALSE(platform::ReadWholeFile(P("f"), out, 999));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileTooLarge);
    EXPECT_EQ(out, "");

    Write("empty", "");
    out = "stale";
    EXPECT_TRUE(platform::ReadWholeFile(P("empty"), out, 0));
    EXPECT_EQ(out, "");

    EXPECT_FALSE(platform::ReadWholeFile(P("none"), out, 10));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    EXPECT_FALSE(platform::ReadWholeFile(FromNarrow(m_root), out, 10));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);
}

TEST_F(FilesTest, SuccessLeavesLastErrorAlone) {
    Write("f", "x");
    platform::SetLastErrorCode(77);
    platform::FileAttributes a;
    EXPECT_TRUE(platform::GetFileAttributesEx(P("f"), a));
    EXPECT_TRUE(platform::CopyFileOver(P("f"), P("g")));
    EXPECT_TRUE(platform::MoveFileReplace(P("g"), P("h")));
    EXPECT_TRUE(platform::DeleteTree(P("h")));
    EXPECT_EQ(platform::GetLastErrorCode(), 77);
}

} // namespace
