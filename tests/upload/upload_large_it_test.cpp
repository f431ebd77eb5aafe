// A sparse file over 4 GiB through the whole exchange: sizes, offsets and Content-Length
// keep all 64 bits. Skipped when the disk has no room for it (the service stores it whole).
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <cstdio>
#include <cstdlib>

#include "app/global_var.h"
#include "fake_upload_view.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload_it_util.h"

using namespace upload_it;

namespace {

TEST(UploadLarge, SparseFileOver4GiB) {
    if (std::getenv("QUMO_SKIP_LARGE_UPLOAD") != nullptr)
        GTEST_SKIP() << "QUMO_SKIP_LARGE_UPLOAD is set";
    char tmpl[] = "/tmp/qumo_uplarge_XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string listPath = dir + "/QumolanUploadList.xml";
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(listPath);
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(dir.c_str(), &vfs), 0);
    const int64_t size = (4LL << 30) + 4097;
    if (static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize) < 3 * size) {
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
        GTEST_SKIP() << "not enough disk space";
    }
    std::string p = dir + "/sparse_" + std::to_string(::getpid()) + ".mp4";
    {
        int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::string stamp = std::to_string(time(nullptr)) + "/" + std::to_string(::getpid());
        ASSERT_EQ(::pwrite(fd, stamp.data(), stamp.size(), 0), static_cast<ssize_t>(stamp.size()));
        ASSERT_EQ(
            ::pwrite(fd, stamp.data(), stamp.size(), size - static_cast<int64_t>(stamp.size())),
            static_cast<ssize_t>(stamp.size()));
        ::close(fd);
    }
    ServiceSession service;
    ASSERT_TRUE(service.Start());
    ASSERT_TRUE(service.Login());
    service.Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() + "&mb=65536");
    UpInfo t = MakeTask(p);
    ASSERT_EQ(t.m_nFileLen, size);
    ASSERT_TRUE(AddUploadTaskList(t));
    FakeUploadView view;
    // The service digests the whole file when it confirms; on a slow disk that outlasts
    // the confirmation's wait, and the worker's next attempt finds the upload finished.
    int r = UploadOneFile(t, &view);
    for (int i = 0; i < 4 && r == kUploadTransferFailed; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        r = UploadOneFile(t);
    }
    EXPECT_EQ(r, kUploadDone);
    EXPECT_EQ(view.Progress(t.m_strFilePath).size(), 100u);
    bool found = false;
    for (const ServerFileEntry& e : service.ListFolder(0))
        if (e.name == t.m_strFileName) {
            found = true;
            EXPECT_EQ(StoredSha1(e.mobilepic), FileSha1(p));
        }
    EXPECT_TRUE(found);
    EXPECT_EQ(ReadBytes(listPath),
              ListFileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"" +
                            CGlobalVar::m_strUid + u"\" />\r\n</QumoUploadList>"));
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}

} // namespace
