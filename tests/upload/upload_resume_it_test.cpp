// Stopping and resuming a transfer against a real qumo-service: pause, cancel, and a
// connection the service drops in the middle of the body.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <mutex>

#include "app/global_var.h"
#include "fake_upload_view.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_session.h"
#include "upload_it_fixture.h"

using namespace upload_it;

namespace {

class UploadResume : public ServiceTest {
protected:
    static void SetUpTestSuite() {
        ServiceTest::SetUpTestSuite();
        service->Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                       "&mb=65536");
    }
    std::string File(const std::string& name, int64_t size) { return Fresh(name, size, ".mp4"); }
    // Stops the transfer with `flag` once it has reported `percent`.
    static void StopAt(FakeUploadView& view, int percent, int flag) {
        view.onProgress = [percent, flag](int p) {
            if (p >= percent && CGlobalVar::m_nUploadCtrl == 0)
                CGlobalVar::m_nUploadCtrl = flag;
        };
    }
};

TEST_F(UploadResume, PauseKeepsTheTaskAndResumeContinuesAtTheOffset) {
    const int64_t size = 24 * 1024 * 1024;
    std::string p = File("pause", size);
    UpInfo t = MakeTask(p);
    ASSERT_TRUE(AddUploadTaskList(t));
    FakeUploadView view;
    StopAt(view, 30, 2);
    uint64_t before = UploadBodyBytesSent();
    EXPECT_EQ(UploadOneFile(t, &view), kUploadPaused);
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl, 0);
    std::vector<int> first = view.Progress(t.m_strFilePath);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.back(), 30); // nothing is reported once the flag is up

    // The list file keeps the task, announced.
    EXPECT_EQ(ReadBytes(listPath), ListWith(CGlobalVar::m_strUid, {ListElement(t, true)}));
    std::vector<UpInfo> listed;
    ASSERT_TRUE(ReadUploadTaskList(listed));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(std::u16string(listed[0].m_tcVid), std::u16string(t.m_tcVid));
    EXPECT_EQ(std::u16string(listed[0].m_tsUpID), std::u16string(t.m_tsUpID));
    EXPECT_EQ(listed[0].m_nUploadPort, t.m_nUploadPort);

    // Resume from the record read back: no new announcement, the rest of the bytes only.
    FakeUploadView again;
    long long opened = service->Counter("uploads_opened");
    EXPECT_EQ(UploadOneFile(listed[0], &again), kUploadDone);
    EXPECT_EQ(service->Counter("uploads_opened"), opened);
    std::vector<int> second = again.Progress(t.m_strFilePath);
    ASSERT_FALSE(second.empty());
    EXPECT_GE(second.front(), 25);
    EXPECT_EQ(second.back(), 100);
    EXPECT_LT(UploadBodyBytesSent() - before, static_cast<uint64_t>(size * 1.1));
    EXPECT_EQ(ReadBytes(listPath), ListWith(CGlobalVar::m_strUid, {}));
}

TEST_F(UploadResume, CancelStopsTheTransferAndReportsDone) {
    std::string p = File("cancel", 16 * 1024 * 1024);
    UpInfo t = MakeTask(p);
    ASSERT_TRUE(AddUploadTaskList(t));
    FakeUploadView view;
    StopAt(view, 20, 1);
    EXPECT_EQ(UploadOneFile(t, &view), kUploadDone);
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl, 0);
    EXPECT_LT(view.Progress(t.m_strFilePath).back(), 100);
    // Removing the element is the list's part of a cancel; the engine left it alone.
    std::vector<UpInfo> listed;
    ASSERT_TRUE(ReadUploadTaskList(listed));
    EXPECT_EQ(listed.size(), 1u);
}

TEST_F(UploadResume, DroppedConnectionResumesAtTheServiceOffset) {
    const int64_t size = 128 * 1024 * 1024;
    std::string p = File("drop", size);
    UpInfo t = MakeTask(p);
    ASSERT_TRUE(AddUploadTaskList(t));
    ASSERT_NE(service->Admin("/admin/faults?drop_after=" + std::to_string(size / 2)), "");
    long long dropped = service->Counter("dropped_connections");
    uint64_t before = UploadBodyBytesSent();
    FakeUploadView view;
    EXPECT_EQ(UploadOneFile(t, &view), kUploadDone);
    uint64_t sent = UploadBodyBytesSent() - before;
    EXPECT_EQ(service->Counter("dropped_connections"), dropped + 1);
    EXPECT_GE(sent, static_cast<uint64_t>(size));
    // Socket buffers on both sides hold what was in flight at the drop.
    EXPECT_LT(sent, static_cast<uint64_t>(size * 1.25));
    bool found = false;
    for (const ServerFileEntry& e : service->ListFolder(0))
        if (e.name == t.m_strFileName) {
            found = true;
            EXPECT_EQ(StoredSha1(e.mobilepic), FileSha1(p));
        }
    EXPECT_TRUE(found);
}

TEST_F(UploadResume, UnreachableUploadServerFailsWithTransferError) {
    std::string p = File("unreach", 1000);
    UpInfo t = MakeTask(p);
    // An announced task whose upload server has gone away.
    CopyToFixed(t.m_tcUploadIp, u"127.0.0.1");
    CopyToFixed(t.m_tcVid, u"1");
    CopyToFixed(t.m_tsUpID, u"1");
    t.m_nUploadPort = 1;
    EXPECT_EQ(UploadOneFile(t), kUploadOffsetFailed);
    // A host name that cannot be resolved makes the transfer itself fail.
    UpInfo u = t;
    CopyToFixed(u.m_tcUploadIp, u"no-such-host.invalid");
    EXPECT_EQ(PostFileData("/v2/upload.json", u, p.c_str(), 0), "0");
    EXPECT_EQ(PostFileData("/v2/upload.json", t, (p + ".missing").c_str(), 0), "0");
}

// An upload the service no longer knows, or whose bytes can no longer match the file
// (edited after the announcement: new content of the same size, grown, shrunk), is dropped
// in the record and the list file; the next attempt announces the file as it is now.
TEST_F(UploadResume, ForgottenOrOutdatedUploadIsAnnouncedAgain) {
    const int64_t size = 2 * 1024 * 1024;
    const struct {
        const char* name;
        int64_t newSize; // 0: the file stays, the service forgets the upload
    } cases[] = {
        {"forgotten", 0}, {"samesize", size}, {"grown", size + 100000}, {"shrunk", size / 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string p = File(c.name, size);
        UpInfo t = MakeTask(p);
        ASSERT_TRUE(AddUploadTaskList(t));
        FakeUploadView view;
        StopAt(view, 10, 2);
        ASSERT_EQ(UploadOneFile(t, &view), kUploadPaused);
        if (c.newSize == 0) {
            CopyToFixed(t.m_tcVid, u"2147000001");
            CopyToFixed(t.m_tsUpID, u"2147000002");
        } else {
            WriteFreshFile(p, c.newSize);
        }

        const long long opened = service->Counter("uploads_opened");
        EXPECT_LT(UploadOneFile(t), 0);
        EXPECT_EQ(t.m_tcVid[0], 0);
        std::vector<UpInfo> listed;
        ASSERT_TRUE(ReadUploadTaskList(listed));
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].m_tcVid[0], 0);
        EXPECT_EQ(listed[0].m_tsUpID[0], 0);
        EXPECT_EQ(listed[0].m_tcUploadIp[0], 0);

        EXPECT_EQ(UploadOneFile(listed[0]), kUploadDone);
        // The service hands a forgotten client its running upload back; changed content
        // opens a new one.
        EXPECT_EQ(service->Counter("uploads_opened"), opened + (c.newSize == 0 ? 0 : 1));
        std::string stored;
        for (const ServerFileEntry& e : service->ListFolder(0))
            if (e.name == t.m_strFileName)
                stored = StoredSha1(e.mobilepic);
        EXPECT_EQ(stored, FileSha1(p));
        EXPECT_EQ(ReadBytes(listPath), ListWith(CGlobalVar::m_strUid, {}));
    }
}

// A queued path that is no file to read (gone, a folder, a named pipe nobody writes) is
// neither announced nor retried: the worker pauses it, says so on its row and keeps it in
// the list file. A pipe must not block the worker in its open.
TEST_F(UploadResume, UnreadableFileWaitsForTheUserAndStaysListed) {
    std::string pipe = dir + "/pipe.mp4";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string gone = File("gone", 1000);
    UpInfo tasks[] = {MakeTask(pipe), MakeTask(gone), MakeTask(dir)};
    ASSERT_EQ(std::remove(gone.c_str()), 0);
    const long long opened = service->Counter("uploads_opened");
    FakeUploadView view;
    UploadSession session(view);
    session.Add(std::vector<UpInfo>(std::begin(tasks), std::end(tasks)), true);
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(view.m);
            return view.failedText.size() == 3;
        },
        60000));
    EXPECT_EQ(view.failedText[tasks[0].m_strFilePath], kUnreadableFileText);
    for (const UpInfo& t : tasks) {
        EXPECT_EQ(session.StateOf(t.m_strFilePath), TaskState::Failed);
        EXPECT_EQ(session.ReasonOf(t.m_strFilePath), TaskReason::Unreadable);
    }
    session.Stop();
    EXPECT_EQ(service->Counter("uploads_opened"), opened);
    std::vector<UpInfo> listed;
    ASSERT_TRUE(ReadUploadTaskList(listed));
    EXPECT_EQ(listed.size(), 3u);
}

// Nested album folders easily make a UTF-8 path of more than 520 bytes: nothing cuts it.
TEST_F(UploadResume, LongPathIsUploadedWhole) {
    std::string folder = dir;
    for (int i = 0; i < 20; ++i) {
        folder += "/旅行相册二零一二年春节北京庙会";
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    }
    ASSERT_GT(folder.size(), 900u);
    std::string p = folder + "/long_" + std::to_string(::getpid()) + ".jpg";
    WriteFreshFile(p, 50000);
    UpInfo t = MakeTask(p);
    ASSERT_TRUE(AddUploadTaskList(t));
    EXPECT_EQ(UploadOneFile(t), kUploadDone);
    std::string stored;
    for (const ServerFileEntry& e : service->ListFolder(0))
        if (e.name == t.m_strFileName)
            stored = StoredSha1(e.mobilepic);
    EXPECT_EQ(stored, FileSha1(p));
}

} // namespace
