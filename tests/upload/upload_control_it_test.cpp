// A pause or cancel that reaches the worker just after the file it was meant for has left
// the transfer: the next file is sent whole, and the command still applies to its own file
// when that one waits for another attempt.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "fake_upload_view.h"
#include "tests/api/service_session.h"
#include "upload/transfer_control.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_thread.h"
#include "upload_it_util.h"

using namespace upload_it;

namespace {

// Runs `afterFirstFile` on the worker's thread when it reports the queue after its first
// file, which is when the window's command lands "just after" that file.
class HookedView : public FakeUploadView {
public:
    void ShowQueueSummary(int n) override {
        FakeUploadView::ShowQueueSummary(n);
        if (++calls == 1 && afterFirstFile)
            afterFirstFile();
    }
    std::atomic<int> calls{0};
    std::function<void()> afterFirstFile;
};

class UploadControl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service = new ServiceSession();
        ASSERT_TRUE(service->Start());
        ASSERT_TRUE(service->Login());
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(service, nullptr);
        char tmpl[] = "/tmp/qumo_upctl_XXXXXX";
        dir = mkdtemp(tmpl);
        listPath = dir + "/QumolanUploadList.xml";
        CGlobalVar::m_strUploadListPath = platform::FromNarrow(listPath);
        CGlobalVar::m_nUploadCtrl = 0;
        CGlobalVar::m_strCurUploadPath.clear();
        // The late commands are about one file after another.
        prefs::Apply(prefs::UserPrefs{.transfers = 1});
    }
    void TearDown() override {
        CGlobalVar::m_nUploadCtrl = 0;
        prefs::Apply(prefs::UserPrefs{});
        EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
    }
    // Two fresh files queued and listed: a (sent first) and b.
    void QueueTwo(const std::string& tag, int64_t sizeB) {
        std::string stamp = tag + "_" + std::to_string(::getpid());
        a = dir + "/first_" + stamp + ".jpg";
        b = dir + "/second_" + stamp + ".mp4";
        WriteFreshFile(a, 40000);
        WriteFreshFile(b, sizeB);
        for (const std::string& p : {a, b}) {
            UpInfo t = MakeTask(p);
            ASSERT_TRUE(AddUploadTaskList(t));
            queue.Enqueue(t);
        }
    }
    // What the window does for the pause or cancel button of the file being sent.
    void PressForCurrentFile(int flag, const std::string& expectedCurrent) {
        std::lock_guard<std::recursive_mutex> g(queue.Lock());
        EXPECT_EQ(CGlobalVar::m_strCurUploadPath, platform::FromNarrow(expectedCurrent));
        EXPECT_TRUE(transfers::Command(platform::FromNarrow(expectedCurrent), flag));
    }
    std::map<std::string, std::string> Stored() {
        std::map<std::string, std::string> m;
        for (const ServerFileEntry& e : service->ListFolder(0))
            m[platform::ToNarrow(e.name)] = StoredSha1(e.mobilepic);
        return m;
    }
    static std::string Name(const std::string& p) { return p.substr(p.rfind('/') + 1); }
    int StatusOf(const std::string& p) {
        std::lock_guard<std::recursive_mutex> g(queue.Lock());
        for (const UpInfo& t : queue.active)
            if (t.m_strFilePath == platform::FromNarrow(p))
                return t.m_nStatus;
        return -1;
    }

    static ServiceSession* service;
    std::string dir, listPath, a, b;
    UploadQueue queue;
    HookedView view;
};

ServiceSession* UploadControl::service = nullptr;

TEST_F(UploadControl, CommandAfterAFinishedFileDoesNotStopTheNextOne) {
    for (int flag : {2, 1}) {
        SCOPED_TRACE(flag);
        queue.waiting.clear();
        queue.active.clear();
        view.calls = 0;
        QueueTwo("late" + std::to_string(flag), 300000);
        view.afterFirstFile = [&] { PressForCurrentFile(flag, a); };
        auto worker = std::make_unique<CUploadThread>(queue, view);
        ASSERT_TRUE(worker->Start());
        // A paused second file would leave the worker waiting for a resume.
        EXPECT_TRUE(WaitUntil([&] { return !worker->IsRunning(); }, 60000));
        worker.reset();

        auto stored = Stored();
        EXPECT_EQ(stored[Name(a)], FileSha1(a));
        EXPECT_EQ(stored[Name(b)], FileSha1(b));
        std::vector<int> progressB = view.Progress(platform::FromNarrow(b));
        ASSERT_FALSE(progressB.empty());
        EXPECT_EQ(progressB.back(), 100);
        EXPECT_EQ(CGlobalVar::m_nUploadCtrl.load(), 0);
        std::vector<UpInfo> left;
        ASSERT_TRUE(ReadUploadTaskList(left));
        EXPECT_TRUE(left.empty());
        std::lock_guard<std::recursive_mutex> g(queue.Lock());
        EXPECT_TRUE(queue.active.empty());
        EXPECT_EQ(queue.activeCount, 0);
    }
}

TEST_F(UploadControl, LatePauseOfAFailedFilePausesIt) {
    QueueTwo("failedpause", 20000);
    // The three announcements of the first file fail; the second file's go through.
    ASSERT_NE(service->Admin("/admin/faults?fail_next=3"), "");
    view.afterFirstFile = [&] { PressForCurrentFile(2, a); };
    auto worker = std::make_unique<CUploadThread>(queue, view);
    ASSERT_TRUE(worker->Start());

    // The second file arrives; the first stays paused and the worker waits for a resume.
    // (No listing before then: its API calls would use up the failures meant for it.)
    // The list file is rewritten when the worker goes idle, a moment after the queue changes.
    const std::string expectedList =
        ListWith(CGlobalVar::m_strUid, {ListElement(MakeTask(a), false)});
    ASSERT_TRUE(WaitUntil(
        [&] { return view.calls >= 2 && StatusOf(b) == -1 && ReadBytes(listPath) == expectedList; },
        60000));
    EXPECT_EQ(Stored()[Name(b)], FileSha1(b));
    EXPECT_EQ(StatusOf(a), kTaskPaused);
    EXPECT_TRUE(worker->IsRunning());
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl.load(), 0);
    {
        std::lock_guard<std::recursive_mutex> g(queue.Lock());
        EXPECT_EQ(queue.activeCount, 1);
    }
    // Still queued in the list file (checked above), never announced.
    EXPECT_EQ(Stored().count(Name(a)), 0u);
    worker.reset();
}

TEST_F(UploadControl, LateCancelOfAFailedFileDropsIt) {
    QueueTwo("failedcancel", 20000);
    ASSERT_NE(service->Admin("/admin/faults?fail_next=3"), "");
    // The list removes the row and the element itself before it sets the flag.
    view.afterFirstFile = [&] {
        DeleteUploadTaskList(platform::FromNarrow(a));
        PressForCurrentFile(1, a);
    };
    auto worker = std::make_unique<CUploadThread>(queue, view);
    ASSERT_TRUE(worker->Start());
    EXPECT_TRUE(WaitUntil([&] { return !worker->IsRunning(); }, 60000));
    worker.reset();

    auto stored = Stored();
    EXPECT_EQ(stored.count(Name(a)), 0u);
    EXPECT_EQ(stored[Name(b)], FileSha1(b));
    EXPECT_EQ(CGlobalVar::m_nUploadCtrl.load(), 0);
    std::lock_guard<std::recursive_mutex> g(queue.Lock());
    EXPECT_TRUE(queue.active.empty());
    EXPECT_EQ(queue.activeCount, 0);
}

// A pause or cancel of the file the worker is busy with stops that file at whatever step it
// is in, before its first byte (its row still shows 0): during the digest of a large file
// and during a slow announcement. The count stays right. A worker's stop during the digest
// ends it within the stop's wait.
TEST_F(UploadControl, CommandsStopTheFileBeforeItsFirstByte) {
    const std::string stamp = std::to_string(::getpid());
    // Six GiB without blocks on disk: its digest takes seconds.
    const std::string big = dir + "/big_" + stamp + ".mp4";
    {
        std::ofstream(big).close();
        ASSERT_EQ(::truncate(big.c_str(), int64_t{6} << 30), 0);
    }
    const std::string small = dir + "/small_" + stamp + ".jpg";
    WriteFreshFile(small, 40000);
    const struct {
        std::string file;
        int flag;
        bool slowAnnouncement;
    } cases[] = {{big, 1, false}, {big, 2, false}, {small, 1, true}, {small, 2, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Name(c.file) + " flag " + std::to_string(c.flag));
        queue.waiting.clear();
        queue.active.clear();
        queue.activeCount = 0;
        const UpInfo t = MakeTask(c.file);
        ASSERT_TRUE(AddUploadTaskList(t));
        queue.Enqueue(t);
        if (c.slowAnnouncement) {
            ASSERT_NE(service->Admin("/admin/faults?delay_ms=1500"), "");
        }
        const uint64_t sent = UploadBodyBytesSent();
        auto worker = std::make_unique<CUploadThread>(queue, view);
        ASSERT_TRUE(worker->Start());
        ASSERT_TRUE(WaitUntil(
            [&] {
                std::lock_guard<std::recursive_mutex> g(queue.Lock());
                return CGlobalVar::m_strCurUploadPath == t.m_strFilePath;
            },
            30000));
        if (c.slowAnnouncement)
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // inside allinone
        {
            // What the list does for the row being worked on.
            std::lock_guard<std::recursive_mutex> g(queue.Lock());
            if (c.flag == 1)
                DeleteUploadTaskList(t.m_strFilePath);
            EXPECT_TRUE(transfers::Command(t.m_strFilePath, c.flag));
        }
        if (c.flag == 1) {
            EXPECT_TRUE(WaitUntil([&] { return !worker->IsRunning(); }, 60000));
            std::lock_guard<std::recursive_mutex> g(queue.Lock());
            EXPECT_TRUE(queue.active.empty());
            EXPECT_EQ(queue.activeCount, 0);
        } else {
            EXPECT_TRUE(WaitUntil([&] { return StatusOf(c.file) == kTaskPaused; }, 60000));
            EXPECT_TRUE(worker->IsRunning()); // waits for a resume
        }
        EXPECT_TRUE(worker->Stop());
        worker.reset();
        service->Admin("/admin/faults?delay_ms=0");
        EXPECT_EQ(UploadBodyBytesSent(), sent);
        EXPECT_EQ(CGlobalVar::m_nUploadCtrl.load(), 0);
        EXPECT_EQ(Stored().count(Name(c.file)), 0u);
    }

    queue.waiting.clear();
    queue.active.clear();
    queue.Enqueue(MakeTask(big));
    auto worker = std::make_unique<CUploadThread>(queue, view);
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::recursive_mutex> g(queue.Lock());
            return CGlobalVar::m_strCurUploadPath == platform::FromNarrow(big);
        },
        30000));
    EXPECT_TRUE(worker->Stop()); // true only when the thread ended within the stop's wait
}

} // namespace
