// Adding many tasks in one write leaves the same bytes as adding them one by one, also
// when the file or the user's group is missing and when another user's group comes first.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/global_var.h"
#include "upload/upload_list_file.h"

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

UpInfo Task(int i) {
    UpInfo t;
    const std::string n = std::to_string(i);
    t.m_strFileName = u"照片" + std::u16string(n.begin(), n.end()) + u".jpg";
    t.m_strFilePath = u"/home/u/相册/" + t.m_strFileName;
    t.m_strFilePath2 = t.m_strFilePath;
    CopyToFixed(t.m_tcExt, u"jpg");
    t.m_nFileLen = 5000000000LL + i;
    t.m_nNetDirId = 40 + i;
    t.m_strNetDirPath = u"我的相册\\旅行 & \"家\"";
    return t;
}

class UploadListBatch : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_batch_XXXXXX";
        dir = mkdtemp(tmpl);
        CGlobalVar::m_strUid = u"1001";
    }
    void TearDown() override {
        for (const char* f : {"/one.xml", "/many.xml"})
            std::remove((dir + f).c_str());
        rmdir(dir.c_str());
        CGlobalVar::m_strUploadListPath.clear();
        CGlobalVar::m_strUid.clear();
    }
    void Use(const char* file) {
        const std::string p = dir + file;
        CGlobalVar::m_strUploadListPath = std::u16string(p.begin(), p.end());
    }
    // Runs `prepare` against both files, then adds the tasks one by one to the first and
    // all at once to the second.
    template <class Prepare>
    void ExpectSameBytes(const std::vector<UpInfo>& tasks, Prepare prepare) {
        for (const char* f : {"/one.xml", "/many.xml"})
            std::remove((dir + f).c_str());
        Use("/one.xml");
        prepare();
        for (const UpInfo& t : tasks)
            ASSERT_TRUE(AddUploadTaskList(t));
        Use("/many.xml");
        prepare();
        ASSERT_TRUE(AddUploadTaskLists(tasks));
        const std::string one = ReadBytes(dir + "/one.xml");
        ASSERT_FALSE(one.empty());
        EXPECT_EQ(one, ReadBytes(dir + "/many.xml"));
        std::vector<UpInfo> back;
        ASSERT_TRUE(ReadUploadTaskList(back));
        ASSERT_EQ(back.size(), tasks.size());
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            EXPECT_EQ(back[i].m_strFilePath, tasks[i].m_strFilePath);
            EXPECT_EQ(back[i].m_nFileLen, tasks[i].m_nFileLen);
            EXPECT_EQ(back[i].m_nNetDirId, tasks[i].m_nNetDirId);
        }
    }
    std::string dir;
};

TEST_F(UploadListBatch, SameBytesAsOneByOne) {
    std::vector<UpInfo> tasks;
    for (int i = 0; i < 25; ++i)
        tasks.push_back(Task(i));
    // No file yet.
    ExpectSameBytes(tasks, [] {});
    // Another user's group first, ours missing: ours is appended after it.
    ExpectSameBytes(tasks, [&] {
        const std::u16string uid = CGlobalVar::m_strUid;
        CGlobalVar::m_strUid = u"2002";
        ASSERT_TRUE(AddUploadTaskList(Task(99)));
        CGlobalVar::m_strUid = uid;
    });
}

TEST_F(UploadListBatch, EmptyBatchCreatesTheFileOnly) {
    Use("/many.xml");
    ASSERT_TRUE(AddUploadTaskLists({}));
    std::vector<UpInfo> back;
    EXPECT_TRUE(ReadUploadTaskList(back));
    EXPECT_TRUE(back.empty());
}

} // namespace
