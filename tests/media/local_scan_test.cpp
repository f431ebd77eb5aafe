// Folder scans: the media filter, hidden files, depth-first collection, links, failures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/global_var.h"
#include "base/log.h"
#include "base/log_testing.h"
#include "media/local_scan.h"
#include "media/media_ext.h"
#include "platform/codepage.h"
#include "platform/lasterror.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("qumo_scan_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "bin" / "log");
        fs::create_directories(root_ / "data");
        platform::OverrideModuleFileName((root_ / "bin" / "QumoClient").u16string());
        ResetLogForTesting();
        CGlobalVar::m_strNetDirPath = u"我的/相册";
    }
    void TearDown() override {
        platform::OverrideModuleFileName(u"");
        ResetLogForTesting();
        CGlobalVar::m_strNetDirPath.clear();
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }

    fs::path Data() const { return root_ / "data"; }

    static void Touch(const fs::path& p, std::size_t size = 3) {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << std::string(size, 'x');
    }

    // The program log as narrow text (it is written as UTF-16LE).
    std::string LogText() const {
        std::ifstream f(platform::ToNarrow(LogFilePath(u"QumoClient")), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return platform::ToNarrow(text);
    }

    fs::path root_;
};

std::vector<std::string> Sorted(const std::vector<std::u16string>& v) {
    std::vector<std::string> out;
    for (const auto& s : v)
        out.push_back(platform::ToNarrow(s));
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> TaskNames(const std::vector<UpInfo>& tasks) {
    std::vector<std::u16string> names;
    for (const auto& t : tasks)
        names.push_back(t.m_strFileName);
    return Sorted(names);
}

std::string Narrow(const char16_t* s) {
    return platform::ToNarrow(s);
}

} // namespace

TEST(MediaExt, ExtensionRules) {
    for (const char16_t* p : {u"a.jpg", u"a.JPEG", u"a.Bmp", u"a.png", u"a.GIF", u"a.flv", u"a.f4v",
                              u"a.avi", u"a.ts", u"a.mp4", u"a.3GP", u"a.mpg", u"a.mov", u"a.rmvb",
                              u"a.rm", u"a.mkv", u"a.wmv", u"a.swf", u"a.vob"})
        EXPECT_EQ(IsMediaFile(p), 1) << Narrow(p);
    for (const char16_t* p : {u"", u"jpg", u"a.", u"a.jpeg.bak", u"a.txt", u"a.mp3", u"a.jp g",
                              u"/photos.jpg/readme", u"a.jpgx", u".", u"mp4."})
        EXPECT_EQ(IsMediaFile(p), 0) << Narrow(p);

    EXPECT_EQ(IsImageFile(u"photo.Jpeg"), 1);
    EXPECT_EQ(IsImageFile(u"/x/y/.hidden.png"), 1);
    EXPECT_EQ(IsImageFile(u"clip.MP4"), 0);
    EXPECT_EQ(IsImageFile(u""), 0);
    EXPECT_EQ(IsImageFile(u"gif"), 0);

    EXPECT_EQ(PathExtension(u"a/b.c/D.JpG"), u"jpg");
    EXPECT_EQ(PathExtension(u"a.b/noext"), u"b/noext"); // the last "." anywhere in the path
    EXPECT_EQ(PathExtension(u"noext"), u"noext");
    EXPECT_EQ(PathExtension(u"x."), u"");
}

TEST_F(ScanTest, MixedCaseAndHiddenNames) {
    Touch(Data() / "A.JPG", 10);
    Touch(Data() / "b.Mp4", 2000);
    Touch(Data() / "c.txt");
    Touch(Data() / "d.jpeg.bak");
    Touch(Data() / ".e.png", 7);
    fs::create_directories(Data() / "folder.jpg"); // a directory with a media name

    std::vector<std::u16string> names;
    ASSERT_EQ(ListFolderMedia(Data().u16string().c_str(), names), 1);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"A.JPG", "b.Mp4"}));

    // A trailing separator lists the same folder.
    names.clear();
    ASSERT_EQ(ListFolderMedia((Data().u16string() + u"/").c_str(), names), 1);
    EXPECT_EQ(names.size(), 2u);

    std::vector<UpInfo> tasks;
    ASSERT_EQ(FindDirAndFiles(Data().u16string().c_str(), tasks, 42), 1);
    ASSERT_EQ(TaskNames(tasks), (std::vector<std::string>{".e.png", "A.JPG", "b.Mp4"}));
    for (const auto& t : tasks) {
        std::u16string full = Data().u16string() + u"/" + t.m_strFileName;
        EXPECT_EQ(t.m_strFilePath, full);
        EXPECT_EQ(t.m_strFilePath2, full);
        EXPECT_EQ(t.m_nFileType, 4);
        EXPECT_EQ(t.m_nNetDirId, 42);
        EXPECT_EQ(t.m_strNetDirPath, u"我的/相册");
        EXPECT_EQ(t.m_nStatus, 0);
        EXPECT_EQ(t.m_tcVid[0], 0);
        if (t.m_strFileName == u"A.JPG") {
            EXPECT_EQ(std::u16string(t.m_tcExt), u"jpg");
            EXPECT_EQ(t.m_nFileLen, 10);
        } else if (t.m_strFileName == u"b.Mp4") {
            EXPECT_EQ(std::u16string(t.m_tcExt), u"mp4");
            EXPECT_EQ(t.m_nFileLen, 2000);
        } else {
            EXPECT_EQ(std::u16string(t.m_tcExt), u"png");
        }
    }
}

TEST_F(ScanTest, ListingWithoutMediaKeepsThePreviousNames) {
    Touch(Data() / "notes.txt");
    Touch(Data() / ".hidden.jpg");
    fs::create_directories(Data() / "sub");
    Touch(Data() / "sub" / "deep.jpg");
    std::vector<std::u16string> names{u"old.png"};
    EXPECT_EQ(ListFolderMedia(Data().u16string().c_str(), names), 0);
    EXPECT_EQ(names, std::vector<std::u16string>{u"old.png"});
    EXPECT_EQ(ListFolderMedia((Data() / "missing").u16string().c_str(), names), 0);
    EXPECT_EQ(ListFolderMedia(nullptr, names), 0);
    EXPECT_EQ(names, std::vector<std::u16string>{u"old.png"});
}

TEST_F(ScanTest, RecursesDepthFirstAndAppends) {
    Touch(Data() / "top.jpg");
    Touch(Data() / "x" / "x1.png");
    Touch(Data() / "x" / "x2.mkv");
    Touch(Data() / "x" / "y" / "y1.gif");
    Touch(Data() / ".hid" / "h.bmp");
    Touch(Data() / "z" / "readme.txt");

    std::vector<UpInfo> tasks(1); // the list is appended to, never replaced
    tasks[0].m_strFileName = u"existing";
    ASSERT_EQ(FindDirAndFiles(Data().u16string().c_str(), tasks, 7), 1);
    ASSERT_EQ(tasks.size(), 6u);
    EXPECT_EQ(tasks[0].m_strFileName, u"existing");
    EXPECT_EQ(TaskNames(tasks), (std::vector<std::string>{"existing", "h.bmp", "top.jpg", "x1.png",
                                                          "x2.mkv", "y1.gif"}));
    // Depth first: the tasks of one folder tree are contiguous.
    std::vector<std::string> paths;
    for (std::size_t i = 1; i < tasks.size(); ++i)
        paths.push_back(platform::ToNarrow(tasks[i].m_strFilePath));
    auto first = std::find_if(paths.begin(), paths.end(), [](const std::string& p) {
        return p.find("/x/") != std::string::npos;
    });
    ASSERT_NE(first, paths.end());
    EXPECT_TRUE(std::all_of(
        first, first + 3, [](const std::string& p) { return p.find("/x/") != std::string::npos; }));
    auto y = std::find_if(paths.begin(), paths.end(),
                          [](const std::string& p) { return p.find("/y/") != std::string::npos; });
    EXPECT_EQ(*y, (Data() / "x" / "y" / "y1.gif").string());
}

TEST_F(ScanTest, MissingAndInvalidPaths) {
    std::vector<UpInfo> tasks;
    platform::SetLastErrorCode(0);
    EXPECT_EQ(FindDirAndFiles((Data() / "nope").u16string().c_str(), tasks, 1), 1);
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrPathNotFound);
    Touch(Data() / "file.jpg");
    EXPECT_EQ(FindDirAndFiles((Data() / "file.jpg").u16string().c_str(), tasks, 1), 1);
    EXPECT_TRUE(tasks.empty());

    EXPECT_EQ(FindDirAndFiles(nullptr, tasks, 1), 0);
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    EXPECT_EQ(LogText().find("should not be NULL"), std::string::npos);
    platform::SetLastErrorCode(0);
    EXPECT_EQ(FindDirAndFiles(u"", tasks, 1), 0);
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    EXPECT_NE(LogText().find("[ERROR] - [CGlobalVar]Parameter in FindDirAndFiles should not be "
                             "NULL\r\n"),
              std::string::npos);

    // A listing that fails for another reason than a missing path is a failure: here a
    // link that points at itself.
    fs::create_symlink(Data() / "self", Data() / "self");
    EXPECT_EQ(FindDirAndFiles((Data() / "self").u16string().c_str(), tasks, 1), 0);
    EXPECT_TRUE(tasks.empty());
    std::u16string tooLong = Data().u16string() + u"/" + std::u16string(300, u'n');
    EXPECT_EQ(FindDirAndFiles(tooLong.c_str(), tasks, 1), 0);
}

TEST_F(ScanTest, DirectoryLinksAreNotFollowed) {
    Touch(Data() / "a.jpg");
    Touch(Data() / "sub" / "b.png");
    Touch(root_ / "outside" / "o.jpg");
    fs::create_directory_symlink(Data(), Data() / "sub" / "loop");   // link to an ancestor
    fs::create_directory_symlink(root_ / "outside", Data() / "ext"); // link to another folder
    fs::create_symlink(root_ / "outside" / "o.jpg", Data() / "linked.jpg"); // link to a file
    fs::create_symlink(Data() / "gone.png", Data() / "dead.png");           // dangling link

    std::vector<UpInfo> tasks;
    ASSERT_EQ(FindDirAndFiles(Data().u16string().c_str(), tasks, 1), 1);
    EXPECT_EQ(TaskNames(tasks), (std::vector<std::string>{"a.jpg", "b.png", "linked.jpg"}));

    std::vector<std::u16string> names;
    ASSERT_EQ(ListFolderMedia(Data().u16string().c_str(), names), 1);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a.jpg", "linked.jpg"}));
}

TEST_F(ScanTest, UnreadableSubFolderLosesOnlyItsOwnFiles) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the superuser";
    Touch(Data() / "a.jpg");
    Touch(Data() / "locked" / "l.jpg");
    fs::permissions(Data() / "locked", fs::perms::none);
    std::vector<UpInfo> tasks;
    EXPECT_EQ(FindDirAndFiles(Data().u16string().c_str(), tasks, 1), 1);
    fs::permissions(Data() / "locked", fs::perms::owner_all);
    EXPECT_EQ(TaskNames(tasks), std::vector<std::string>{"a.jpg"});
    EXPECT_NE(LogText().find("[CGlobalVar]FindDirAndFiles error 5\r\n"), std::string::npos);
}

TEST_F(ScanTest, ClearFolderFilesKeepsFoldersAndLinkTargets) {
    Touch(Data() / "a.jpg");
    Touch(Data() / ".hidden");
    Touch(Data() / "sub" / "keep.jpg");
    Touch(root_ / "outside" / "o.jpg");
    fs::create_directory_symlink(root_ / "outside", Data() / "dirlink");
    fs::create_symlink(root_ / "outside" / "o.jpg", Data() / "filelink.jpg");

    ASSERT_EQ(ClearFolderFiles(Data().u16string().c_str()), 1);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(Data()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"dirlink", "sub"}));
    EXPECT_TRUE(fs::exists(Data() / "sub" / "keep.jpg"));
    EXPECT_TRUE(fs::exists(root_ / "outside" / "o.jpg"));
}

TEST_F(ScanTest, ClearFolderFilesFailures) {
    EXPECT_EQ(ClearFolderFiles((Data() / "missing").u16string().c_str()), 1);
    EXPECT_EQ(ClearFolderFiles(nullptr), 0);
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    platform::SetLastErrorCode(0);
    EXPECT_EQ(ClearFolderFiles(u""), 0);
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    EXPECT_EQ(LogText().find("ClearFolderFiles"), std::string::npos);

    fs::create_symlink(Data() / "self", Data() / "self");
    EXPECT_EQ(ClearFolderFiles((Data() / "self").u16string().c_str()), 0);
    std::string expected = "[ERROR] - [CGlobalVar]Invalid file handle, " +
                           (Data() / "self").string() + "/* error is ---40---\r\n";
    EXPECT_NE(LogText().find(expected), std::string::npos) << LogText();
}
