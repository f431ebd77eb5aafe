// The upload list file byte for byte after each operation, the matching rules and the
// two-users case.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "app/global_var.h"
#include "base/xml.h"
#include "upload/upload_list_file.h"

namespace {

const std::u16string kDecl = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>";

std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The whole file as it must be: byte order mark, declaration, then the text, UTF-16LE.
std::string FileBytes(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : kDecl + text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

void WriteText(const std::string& path, const std::u16string& text) {
    std::string b = FileBytes(text);
    std::ofstream(path, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
}

UpInfo Task(const std::u16string& path, int64_t len = 10) {
    UpInfo t;
    t.m_strFilePath = path;
    t.m_strFilePath2 = path;
    std::size_t slash = path.rfind(u'/');
    t.m_strFileName = path.substr(slash + 1);
    CopyToFixed(t.m_tcExt, u"jpg");
    t.m_nFileLen = len;
    t.m_nNetDirId = 7;
    t.m_strNetDirPath = u"我的相册\\旅行";
    return t;
}

std::u16string Element(const std::u16string& name, const std::u16string& path, int64_t len,
                       const std::u16string& upload) {
    const std::string size = std::to_string(len);
    return u"<QumoFileInfo FileName=\"" + name + u"\" FileAllPath=\"" + path +
           u"\" FileExt=\"jpg\" FileSize=\"" + std::u16string(size.begin(), size.end()) +
           u"\" NetDirId=\"7\" NetDirPath=\"我的相册\\旅行\" " + upload + u"/>";
}

const std::u16string kFresh =
    u"UploadStatus=\"0\" UploadId=\"\" UploadMid=\"\" UploadIp=\"\" UploadPort=\"\" ";

class UploadListFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_list_XXXXXX";
        dir = mkdtemp(tmpl);
        path = dir + "/QumolanUploadList.xml";
        CGlobalVar::m_strUploadListPath = std::u16string(path.begin(), path.end());
        CGlobalVar::m_strUid = u"1001";
    }
    void TearDown() override {
        std::remove(path.c_str());
        rmdir(dir.c_str());
        CGlobalVar::m_strUploadListPath.clear();
        CGlobalVar::m_strUid.clear();
    }
    std::string dir, path;
};

TEST_F(UploadListFile, FirstTaskCreatesTheFileThenUpdateAndDelete) {
    UpInfo a = Task(u"/home/u/pics/a.jpg", 10);
    ASSERT_TRUE(AddUploadTaskList(a));
    const std::u16string afterAdd =
        u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t" +
        Element(u"a.jpg", u"/home/u/pics/a.jpg", 10, kFresh) +
        u"\r\n\t</UserInfo>\r\n</QumoUploadList>";
    EXPECT_EQ(ReadBytes(path), FileBytes(afterAdd));

    CopyToFixed(a.m_tsUpID, u"88");
    CopyToFixed(a.m_tcVid, u"99");
    CopyToFixed(a.m_tcUploadIp, u"127.0.0.1");
    a.m_nUploadPort = 8411;
    ASSERT_TRUE(UpdateUploadTaskList(a));
    const std::u16string afterUpdate =
        u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t" +
        Element(u"a.jpg", u"/home/u/pics/a.jpg", 10,
                u"UploadStatus=\"1\" UploadId=\"88\" UploadMid=\"99\" UploadIp=\"127.0.0.1\" "
                u"UploadPort=\"8411\" ") +
        u"\r\n\t</UserInfo>\r\n</QumoUploadList>";
    EXPECT_EQ(ReadBytes(path), FileBytes(afterUpdate));

    ASSERT_TRUE(DeleteUploadTaskList(u"/home/u/pics/a.jpg"));
    EXPECT_EQ(
        ReadBytes(path),
        FileBytes(
            u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" />\r\n</QumoUploadList>"));
}

TEST_F(UploadListFile, SizesOver4GiBKeepAll64Bits) {
    ASSERT_TRUE(AddUploadTaskList(Task(u"/v/big.jpg", 5000000000LL)));
    std::string needle = FileBytes(u"FileSize=\"5000000000\"").substr(2 + 2 * kDecl.size());
    EXPECT_NE(ReadBytes(path).find(needle), std::string::npos);
}

TEST_F(UploadListFile, TwoUsersSideBySideEachTouchesOnlyTheirOwn) {
    ASSERT_TRUE(AddUploadTaskList(Task(u"/p/a.jpg")));
    CGlobalVar::m_strUid = u"2002";
    ASSERT_TRUE(AddUploadTaskList(Task(u"/p/a.jpg")));
    ASSERT_TRUE(AddUploadTaskList(Task(u"/p/b.jpg")));
    const std::u16string both = u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t" +
                                Element(u"a.jpg", u"/p/a.jpg", 10, kFresh) +
                                u"\r\n\t</UserInfo>\r\n\t<UserInfo UserName=\"2002\" >\r\n\t\t" +
                                Element(u"a.jpg", u"/p/a.jpg", 10, kFresh) + u"\r\n\t\t" +
                                Element(u"b.jpg", u"/p/b.jpg", 10, kFresh) +
                                u"\r\n\t</UserInfo>\r\n</QumoUploadList>";
    EXPECT_EQ(ReadBytes(path), FileBytes(both));

    // User 2002 removes its a.jpg; 1001's element with the same path stays.
    ASSERT_TRUE(DeleteUploadTaskList(u"/p/a.jpg"));
    const std::u16string after =
        u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t" +
        Element(u"a.jpg", u"/p/a.jpg", 10, kFresh) +
        u"\r\n\t</UserInfo>\r\n\t<UserInfo UserName=\"2002\" >\r\n\t\t" +
        Element(u"b.jpg", u"/p/b.jpg", 10, kFresh) + u"\r\n\t</UserInfo>\r\n</QumoUploadList>";
    EXPECT_EQ(ReadBytes(path), FileBytes(after));

    // A user without a group: update and delete refuse and change nothing.
    CGlobalVar::m_strUid = u"3003";
    EXPECT_FALSE(UpdateUploadTaskList(Task(u"/p/b.jpg")));
    EXPECT_FALSE(DeleteUploadTaskList(u"/p/b.jpg"));
    EXPECT_EQ(ReadBytes(path), FileBytes(after));
}

TEST_F(UploadListFile, MatchingIgnoresCaseAndBlanksAndActsOnTheFirstOnly) {
    const std::u16string dup = Element(u"a.jpg", u"/P/A.JPG", 10, kFresh);
    WriteText(path, u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"  ab1 \" >\r\n\t\t" + dup +
                        u"\r\n\t\t" + dup + u"\r\n\t</UserInfo>\r\n</QumoUploadList>");
    CGlobalVar::m_strUid = u"AB1";
    UpInfo t = Task(u"/p/a.jpg");
    CopyToFixed(t.m_tsUpID, u"5");
    CopyToFixed(t.m_tcVid, u"6");
    CopyToFixed(t.m_tcUploadIp, u"h");
    t.m_nUploadPort = 80;
    ASSERT_TRUE(UpdateUploadTaskList(t));
    const std::u16string updated = Element(
        u"a.jpg", u"/P/A.JPG", 10,
        u"UploadStatus=\"1\" UploadId=\"5\" UploadMid=\"6\" UploadIp=\"h\" UploadPort=\"80\" ");
    // The writer keeps the stored user name as it was (the parser trims values).
    EXPECT_EQ(ReadBytes(path),
              FileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"ab1\" >\r\n\t\t" +
                        updated + u"\r\n\t\t" + dup + u"\r\n\t</UserInfo>\r\n</QumoUploadList>"));
    ASSERT_TRUE(DeleteUploadTaskList(u" /p/A.jpg "));
    EXPECT_EQ(ReadBytes(path),
              FileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"ab1\" >\r\n\t\t" + dup +
                        u"\r\n\t</UserInfo>\r\n</QumoUploadList>"));
}

TEST_F(UploadListFile, UpdateLeavesAMissingAttributeMissingAndDeleteOfUnknownPathIsTrue) {
    const std::u16string noPort =
        u"<QumoFileInfo FileAllPath=\"/x.jpg\" UploadStatus=\"0\" UploadId=\"\" UploadMid=\"\" "
        u"UploadIp=\"\" />";
    const std::u16string text = u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t" +
                                noPort + u"\r\n\t</UserInfo>\r\n</QumoUploadList>";
    WriteText(path, text);
    ASSERT_TRUE(DeleteUploadTaskList(u"/nothing.jpg"));
    EXPECT_EQ(ReadBytes(path), FileBytes(text)); // untouched
    UpInfo t = Task(u"/x.jpg");
    CopyToFixed(t.m_tsUpID, u"1");
    CopyToFixed(t.m_tcVid, u"2");
    CopyToFixed(t.m_tcUploadIp, u"ip");
    t.m_nUploadPort = 9;
    ASSERT_TRUE(UpdateUploadTaskList(t));
    EXPECT_EQ(
        ReadBytes(path),
        FileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t"
                  u"<QumoFileInfo FileAllPath=\"/x.jpg\" UploadStatus=\"1\" UploadId=\"1\" "
                  u"UploadMid=\"2\" UploadIp=\"ip\" />\r\n\t</UserInfo>\r\n</QumoUploadList>"));
    // No element for the task: true, and the file is still written the same.
    EXPECT_TRUE(UpdateUploadTaskList(Task(u"/other.jpg")));
}

// Tasks of the usual shape are held compactly, anything else as it was read: after a
// change the file is what the whole tree would have made of the same change.
TEST_F(UploadListFile, ChildrenOfEveryShapeAreWrittenAsTheTreeWouldWriteThem) {
    const std::u16string a = Element(u"a.jpg", u"/a.jpg", 1, kFresh);
    const std::u16string b = Element(u"b&amp;&lt;c&gt;.jpg", u"/b&amp;x&#92;", 2, kFresh);
    const std::u16string odd = u"<QumoFileInfo FileAllPath=\"/odd.jpg\" Extra=\"1\" />";
    const std::u16string nested = u"<QumoFileInfo FileAllPath=\"/n.jpg\" ><Note/></QumoFileInfo>";
    const std::u16string text =
        u"\r\n<QumoUploadList>\r\n\t<!-- kept -->\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t" + a +
        u"\r\n\t\t<!--note-->\r\n\t\t" + odd + u"\r\n\t\t" + b + u"\r\n\t\t" + nested +
        u"\r\n\t\t" + a + u"\r\n\t</UserInfo>\r\n\t<UserInfo UserName=\"2002\" >\r\n\t\t" + b +
        u"\r\n\t</UserInfo>\r\n</QumoUploadList>";
    WriteText(path, text);
    XmlNode tree;
    ASSERT_NE(tree.Load(text.c_str(), &DefaultParseOptions), nullptr);
    XmlNode* group = tree.GetChild(1);

    ASSERT_TRUE(DeleteUploadTaskList(u"/a.jpg")); // the first of two
    group->RemoveChild(group->GetChild(0));
    EXPECT_EQ(ReadBytes(path), FileBytes(WriteXml(tree, DefaultWriteOptions)));

    UpInfo t = Task(u"/odd.jpg");
    CopyToFixed(t.m_tsUpID, u"3");
    ASSERT_TRUE(UpdateUploadTaskList(t));
    ASSERT_TRUE(UpdateUploadTaskList(Task(u"/b&x\\")));
    ASSERT_TRUE(DeleteUploadTaskList(u"/n.jpg"));
    // The odd one has no upload values to change.
    XmlNode* bt = group->GetChild(2);
    bt->FindAttr(u"UploadStatus")->value = u"1";
    bt->FindAttr(u"UploadPort")->value = u"80";
    group->RemoveChild(group->GetChild(3));
    EXPECT_EQ(ReadBytes(path), FileBytes(WriteXml(tree, DefaultWriteOptions)));

    std::vector<ListedTask> listed;
    ASSERT_TRUE(ReadListTasks(listed));
    ASSERT_EQ(listed.size(), 3u); // the comment is no task
    EXPECT_EQ(listed[0].values[kListedPath], u"/odd.jpg");
    EXPECT_EQ(listed[0].values[kListedStatus], u"");
    EXPECT_EQ(listed[1].values[kListedName], u"b&<c>.jpg");
}

TEST_F(UploadListFile, MissingOrUnreadableFile) {
    EXPECT_FALSE(UpdateUploadTaskList(Task(u"/a.jpg")));
    EXPECT_FALSE(DeleteUploadTaskList(u"/a.jpg"));
    EXPECT_EQ(access(path.c_str(), F_OK), -1); // neither creates the file

    // A file that holds no list is never overwritten: it is set aside, byte for byte, the
    // window learns its new name once, and a fresh list starts.
    const std::string junk("\xFF\xFEn\0o\0", 6);
    std::ofstream(path, std::ios::binary).write(junk.data(), 6);
    EXPECT_FALSE(UpdateUploadTaskList(Task(u"/a.jpg")));
    const std::u16string aside = TakeSetAsideUploadList();
    ASSERT_EQ(aside.rfind(CGlobalVar::m_strUploadListPath + u".unreadable-", 0), 0u);
    EXPECT_EQ(TakeSetAsideUploadList(), u"");
    const std::string asidePath(aside.begin(), aside.end());
    EXPECT_EQ(ReadBytes(asidePath), junk);
    std::ofstream(path, std::ios::binary).write(junk.data(), 6);
    EXPECT_TRUE(AddUploadTaskList(Task(u"/a.jpg")));
    std::vector<UpInfo> read;
    ASSERT_TRUE(ReadUploadTaskList(read));
    EXPECT_EQ(read.size(), 1u);
    const std::u16string second = TakeSetAsideUploadList();
    EXPECT_NE(second, aside); // the first one is kept too
    std::remove(asidePath.c_str());
    std::remove(std::string(second.begin(), second.end()).c_str());

    // An empty list path fails without touching anything.
    CGlobalVar::m_strUploadListPath.clear();
    EXPECT_FALSE(AddUploadTaskList(Task(u"/a.jpg")));
    EXPECT_FALSE(DeleteUploadTaskList(u"/a.jpg"));
}

TEST_F(UploadListFile, ConcurrentOperationsLoseNothing) {
    // Two threads adding 20 tasks each: every read-modify-write is serialised.
    auto add = [](int base) {
        for (int i = 0; i < 20; ++i) {
            std::string p = "/c/" + std::to_string(base + i) + ".jpg";
            AddUploadTaskList(Task(std::u16string(p.begin(), p.end())));
        }
    };
    std::thread t1(add, 0), t2(add, 1000);
    t1.join();
    t2.join();
    std::string bytes = ReadBytes(path);
    std::string marker = FileBytes(u"<QumoFileInfo ").substr(2 + 2 * kDecl.size());
    int count = 0;
    for (std::size_t at = bytes.find(marker); at != std::string::npos;
         at = bytes.find(marker, at + 1))
        ++count;
    EXPECT_EQ(count, 40);
}

TEST_F(UploadListFile, ReadBackTakesUploadValuesOnlyWhenAnnounced) {
    std::string local = dir + "/Photo.JPG";
    std::ofstream(local, std::ios::binary) << "12345";
    std::u16string local16(local.begin(), local.end());
    WriteText(
        path,
        u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"9\" >\r\n\t\t"
        u"<QumoFileInfo FileName=\"x.png\" FileAllPath=\"/x.png\" FileExt=\"png\" "
        u"FileSize=\"5000000000\" NetDirId=\"3\" NetDirPath=\"d\" UploadStatus=\"0\" "
        u"UploadId=\"1\" UploadMid=\"2\" UploadIp=\"h\" UploadPort=\"81\" />\r\n\t</UserInfo>"
        u"\r\n\t<UserInfo UserName=\"1001\" >\r\n\t\t"
        u"<QumoFileInfo FileName=\"Photo.JPG\" FileAllPath=\"" +
            local16 +
            u"\" FileExt=\"\" FileSize=\"\" NetDirId=\"\" NetDirPath=\"\" UploadStatus=\"1\" "
            u"UploadId=\"11\" UploadMid=\"12\" UploadIp=\"127.0.0.1\" UploadPort=\"8411\" "
            u"/>\r\n\t\t"
            u"<QumoFileInfo FileName=\" b.jpg\" FileAllPath=\" /b.jpg \" FileExt=\"jpg \" "
            u"FileSize=\" 5000000000\" NetDirId=\" -4 \" NetDirPath=\"p \" UploadStatus=\" 0\" "
            u"UploadId=\"1\" UploadMid=\"2\" UploadIp=\"h\" UploadPort=\"81\" />\r\n\t\t"
            u"<QumoFileInfo FileName=\"README\" FileAllPath=\"/Docs/README\" FileExt=\"\" "
            u"FileSize=\"1\" NetDirId=\"1\" NetDirPath=\"p\" UploadStatus=\" 1 \" "
            u"UploadId=\"5\" UploadMid=\"6\" UploadIp=\"h\" UploadPort=\"81\" />"
            u"\r\n\t</UserInfo>\r\n</QumoUploadList>");
    std::vector<UpInfo> tasks;
    ASSERT_TRUE(ReadUploadTaskList(tasks));
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(tasks[0].m_strFilePath, local16);
    EXPECT_EQ(tasks[0].m_strFilePath2, local16);
    EXPECT_EQ(std::u16string(tasks[0].m_tcExt), u"jpg");
    EXPECT_EQ(tasks[0].m_nFileLen, 5);
    EXPECT_EQ(tasks[0].m_nNetDirId, 0);
    EXPECT_EQ(std::u16string(tasks[0].m_tsUpID), u"11");
    EXPECT_EQ(std::u16string(tasks[0].m_tcVid), u"12");
    EXPECT_EQ(std::u16string(tasks[0].m_tcUploadIp), u"127.0.0.1");
    EXPECT_EQ(tasks[0].m_nUploadPort, 8411);
    // Every value but the upload ones is read trimmed.
    EXPECT_EQ(tasks[1].m_strFileName, u"b.jpg");
    EXPECT_EQ(tasks[1].m_strFilePath, u"/b.jpg");
    EXPECT_EQ(std::u16string(tasks[1].m_tcExt), u"jpg");
    EXPECT_EQ(tasks[1].m_strNetDirPath, u"p");
    EXPECT_EQ(tasks[1].m_nFileLen, 5000000000LL);
    EXPECT_EQ(tasks[1].m_nNetDirId, -4);
    EXPECT_EQ(tasks[1].m_tsUpID[0], 0); // not announced: the stale values are not taken
    EXPECT_EQ(tasks[1].m_tcUploadIp[0], 0);
    EXPECT_EQ(tasks[1].m_nUploadPort, 80);
    // Without a "." the extension is the whole path, in lower case.
    EXPECT_EQ(std::u16string(tasks[2].m_tcExt), u"/docs/readme");
    EXPECT_EQ(std::u16string(tasks[2].m_tsUpID), u"5");
    std::remove(local.c_str());
}

} // namespace
