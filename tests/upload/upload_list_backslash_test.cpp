// List-file values that end in a backslash (a server folder path, a file name that ends in
// one): the exact bytes written, the values read back, and update and delete still finding
// the element.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/global_var.h"
#include "upload/upload_list_file.h"
#include "upload_it_util.h"

using namespace upload_it;

namespace {

class UploadListBackslash : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_listbs_XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/QumolanUploadList.xml";
        CGlobalVar::m_strUploadListPath = platform::FromNarrow(path);
        CGlobalVar::m_strUid = u"1001";
    }
    void TearDown() override {
        std::remove(path.c_str());
        rmdir(dir.c_str());
        CGlobalVar::m_strUploadListPath.clear();
        CGlobalVar::m_strUid.clear();
    }
    static UpInfo Task(const std::u16string& fullPath, const std::u16string& netDir) {
        UpInfo t;
        t.m_strFilePath = fullPath;
        t.m_strFilePath2 = fullPath;
        t.m_strFileName = fullPath.substr(fullPath.rfind(u'/') + 1);
        CopyToFixed(t.m_tcExt, u"jpg");
        t.m_nFileLen = 12;
        t.m_nNetDirId = 7;
        t.m_strNetDirPath = netDir;
        return t;
    }
    static std::u16string Element(const std::u16string& name, const std::u16string& fullPath,
                                  const std::u16string& netDir, const std::u16string& upload) {
        return u"<QumoFileInfo FileName=\"" + name + u"\" FileAllPath=\"" + fullPath +
               u"\" FileExt=\"jpg\" FileSize=\"12\" NetDirId=\"7\" NetDirPath=\"" + netDir +
               u"\" " + upload + u"/>";
    }

    std::string dir, path;
};

const std::u16string kFresh =
    u"UploadStatus=\"0\" UploadId=\"\" UploadMid=\"\" UploadIp=\"\" UploadPort=\"\" ";

TEST_F(UploadListBackslash, ValuesEndingInABackslashSurviveEveryOperation) {
    UpInfo a = Task(u"/photos/a.jpg\\", u"我的相册\\旅行\\");
    UpInfo b = Task(u"/photos/b.jpg", u"相册\\\\");
    ASSERT_TRUE(AddUploadTaskList(a));
    ASSERT_TRUE(AddUploadTaskList(b));
    const std::u16string elemA =
        Element(u"a.jpg&#92;", u"/photos/a.jpg&#92;", u"我的相册\\旅行&#92;", kFresh);
    const std::u16string elemB = Element(u"b.jpg", u"/photos/b.jpg", u"相册\\\\", kFresh);
    EXPECT_EQ(ReadBytes(path), ListWith(u"1001", {elemA, elemB}));

    std::vector<UpInfo> back;
    ASSERT_TRUE(ReadUploadTaskList(back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].m_strFilePath, a.m_strFilePath);
    EXPECT_EQ(back[0].m_strFileName, a.m_strFileName);
    EXPECT_EQ(back[0].m_strNetDirPath, a.m_strNetDirPath);
    EXPECT_EQ(back[0].m_nFileLen, 12);
    EXPECT_EQ(back[1].m_strFilePath, b.m_strFilePath);
    EXPECT_EQ(back[1].m_strNetDirPath, b.m_strNetDirPath);

    // The element is found by its path for the upload values and for its removal.
    CopyToFixed(a.m_tsUpID, u"55");
    CopyToFixed(a.m_tcVid, u"66");
    CopyToFixed(a.m_tcUploadIp, u"127.0.0.1");
    a.m_nUploadPort = 8411;
    ASSERT_TRUE(UpdateUploadTaskList(a));
    const std::u16string announced = u"UploadStatus=\"1\" UploadId=\"55\" UploadMid=\"66\" "
                                     u"UploadIp=\"127.0.0.1\" UploadPort=\"8411\" ";
    EXPECT_EQ(ReadBytes(path), ListWith(u"1001", {Element(u"a.jpg&#92;", u"/photos/a.jpg&#92;",
                                                          u"我的相册\\旅行&#92;", announced),
                                                  elemB}));
    ASSERT_TRUE(DeleteUploadTaskList(a.m_strFilePath));
    EXPECT_EQ(ReadBytes(path), ListWith(u"1001", {elemB}));
}

TEST_F(UploadListBackslash, FileWrittenEarlierReadsTheSame) {
    // Backslashes inside values, as earlier versions wrote them, read unchanged.
    std::string bytes =
        ListWith(u"1001", {Element(u"c.jpg", u"/p/c\\d.jpg", u"我的相册\\旅行", kFresh),
                           Element(u"e.jpg", u"/p/e.jpg", u"a&amp;#92;\\\\", kFresh)});
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::vector<UpInfo> back;
    ASSERT_TRUE(ReadUploadTaskList(back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].m_strFilePath, u"/p/c\\d.jpg");
    EXPECT_EQ(back[0].m_strNetDirPath, u"我的相册\\旅行");
    EXPECT_EQ(back[1].m_strNetDirPath, u"a&#92;\\\\");
    // Rewritten by an operation, the file keeps those bytes.
    ASSERT_TRUE(DeleteUploadTaskList(u"/p/none.jpg"));
    UpInfo g = Task(u"/p/g.jpg", u"x");
    ASSERT_TRUE(AddUploadTaskList(g));
    EXPECT_EQ(ReadBytes(path),
              ListWith(u"1001", {Element(u"c.jpg", u"/p/c\\d.jpg", u"我的相册\\旅行", kFresh),
                                 Element(u"e.jpg", u"/p/e.jpg", u"a&amp;#92;\\\\", kFresh),
                                 Element(u"g.jpg", u"/p/g.jpg", u"x", kFresh)}));
}

} // namespace
