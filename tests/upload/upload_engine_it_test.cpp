// The upload engine against a real qumo-service: a folder of files of awkward sizes and
// names, an instant upload, lack of space, a confirmation the service refuses, and an
// announcement it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "base/log_testing.h"
#include "fake_upload_view.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_session.h"
#include "upload_it_fixture.h"

using namespace upload_it;

namespace {

class UploadEngine : public ServiceTest {
protected:
    std::string File(const std::string& name, int64_t size) {
        std::string p = dir + "/" + name;
        WriteFreshFile(p, size);
        return p;
    }
    // The list file holding only the user's (empty) group.
    std::string EmptyGroupBytes() const {
        return ListFileBytes(u"\r\n<QumoUploadList>\r\n\t<UserInfo UserName=\"" +
                             CGlobalVar::m_strUid + u"\" />\r\n</QumoUploadList>");
    }
    std::map<std::u16string, ServerFileEntry> RootEntries() {
        std::map<std::u16string, ServerFileEntry> m;
        for (const ServerFileEntry& e : service->ListFolder(0))
            m[e.name] = e;
        return m;
    }
    // Queues the tasks (already in the list file) and waits until the worker has ended.
    void RunWorkerToTheEnd(std::vector<UpInfo> tasks, FakeUploadView& view) {
        UploadSession session(view);
        session.Add(std::move(tasks), false);
        EXPECT_TRUE(WaitUntil([&] { return !session.WorkerRunning(); }, 120000));
        EXPECT_EQ(session.Pending(), 0);
    }
};

TEST_F(UploadEngine, FolderOfAwkwardSizesArrivesWhole) {
    const int64_t sizes[] = {0, 1, 15359, 15360, 15361, 10 * 1024 * 1024};
    std::vector<std::string> paths;
    std::vector<UpInfo> queued;
    FakeUploadView view;
    std::string stamp = std::to_string(::getpid()) + "_" + std::to_string(time(nullptr));
    // Names a user or a foreign file system gives: an emoji (a surrogate pair), a lone
    // surrogate (its stand-in's bytes on disk), the URL special characters (the list file escapes &
    // and ' as the journal test shows).
    const std::map<int64_t, std::string> odd = {
        {1, "海边🌊_"}, {15359, " #%[]=;+?@!$,()~_"}, {15361, "\xF4\x8F\xBC\x8A_"}};
    for (int64_t s : sizes) {
        const std::string name = odd.count(s) ? odd.at(s) : std::string();
        std::string p = File("size" + std::to_string(s) + "_" + name + stamp + ".mp4", s);
        paths.push_back(p);
        UpInfo t = MakeTask(p);
        ASSERT_TRUE(AddUploadTaskList(t));
        queued.push_back(t);
    }
    std::vector<std::u16string> elements;
    for (const std::string& p : paths)
        elements.push_back(ListElement(MakeTask(p), false));
    EXPECT_EQ(ReadBytes(listPath), ListWith(CGlobalVar::m_strUid, elements));
    RunWorkerToTheEnd(queued, view);

    // Every task finished and left the list file.
    EXPECT_EQ(ReadBytes(listPath), EmptyGroupBytes());
    EXPECT_EQ(view.rows.size(), paths.size());
    ASSERT_FALSE(view.summaries.empty());
    EXPECT_EQ(view.summaries.back(), 0);
    EXPECT_EQ(view.summaries.front(), 5); // counted right after the first file finished

    // Progress: every whole percent once, in order, up to 99 while bytes go out; 100 only
    // once the service confirmed. Small files report 99 once.
    std::vector<int> all;
    for (int i = 1; i <= 100; ++i)
        all.push_back(i);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(view.Progress(platform::FromNarrow(paths[i])), (std::vector<int>{99, 100}));
    EXPECT_EQ(view.Progress(platform::FromNarrow(paths[5])), all);

    // The service stored each file with its size and content, under the name given.
    EXPECT_EQ(MakeTask(paths[1]).m_strFileName.substr(0, 11), u"size1_海边🌊_");
    EXPECT_EQ(MakeTask(paths[4]).m_strFileName[10], char16_t{0xDF0A});
    auto entries = RootEntries();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::u16string name = MakeTask(paths[i]).m_strFileName;
        ASSERT_TRUE(entries.count(name)) << paths[i];
        EXPECT_EQ(entries[name].size, static_cast<uint32_t>(sizes[i]));
        EXPECT_EQ(StoredSha1(entries[name].mobilepic), FileSha1(paths[i]));
    }
}

TEST_F(UploadEngine, ContentTheServiceHoldsFinishesWithoutTransfer) {
    std::string a = File("orig_" + std::to_string(::getpid()) + ".mp4", 200000);
    UpInfo first = MakeTask(a);
    ASSERT_EQ(UploadOneFile(first), kUploadDone);

    std::string b = dir + "/copy_" + std::to_string(::getpid()) + ".mp4";
    ASSERT_EQ(std::system(("cp " + a + " " + b).c_str()), 0);
    UpInfo copy = MakeTask(b);
    ASSERT_TRUE(AddUploadTaskList(copy));
    FakeUploadView view;
    uint64_t before = UploadBodyBytesSent();
    RunWorkerToTheEnd({copy}, view);
    EXPECT_EQ(UploadBodyBytesSent(), before);
    EXPECT_EQ(view.rowValue[copy.m_strFilePath], 100);
    EXPECT_TRUE(view.Progress(copy.m_strFilePath).empty());
    EXPECT_EQ(ReadBytes(listPath), EmptyGroupBytes());
}

TEST_F(UploadEngine, LackOfSpacePausesEverythingWithOneMessage) {
    // One file after another: the third is paused before it is announced.
    prefs::Apply(prefs::UserPrefs{.transfers = 1});
    // Room for the first small file only.
    SpaceAnswer space = ApiGetSpace(platform::FromNarrow(service->login.uid),
                                    platform::FromNarrow(service->login.token));
    ASSERT_EQ(space.outcome, ApiOutcome::Ok);
    std::string total = std::to_string(space.usedSpace + 2);
    ASSERT_NE(service->Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                             "&mb=" + total),
              "");
    std::string s = std::to_string(::getpid());
    UpInfo t1 = MakeTask(File("room1_" + s + ".mp4", 50000));
    UpInfo t2 = MakeTask(File("room2_" + s + ".mp4", 6 * 1024 * 1024));
    UpInfo t3 = MakeTask(File("room3_" + s + ".mp4", 50000));
    FakeUploadView view;
    UploadSession session(view);
    session.Add({t1, t2, t3}, true);
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(view.m);
            return view.allPaused == 1;
        },
        30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(session.WorkerRunning()); // it keeps running, waiting for a resume
    EXPECT_EQ(view.noSpaceMessages, 1);
    EXPECT_EQ(session.StateOf(t1.m_strFilePath), TaskState::Uploaded);
    EXPECT_EQ(session.StateOf(t2.m_strFilePath), TaskState::Paused);
    EXPECT_EQ(session.ReasonOf(t2.m_strFilePath), TaskReason::NoSpace);
    EXPECT_EQ(session.StateOf(t3.m_strFilePath), TaskState::Paused);
    EXPECT_EQ(session.Pending(), 2);
    session.Stop();
    service->Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                   "&mb=65536");
    // Tasks 2 and 3 are still in the list file, not announced.
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].m_strFilePath, t2.m_strFilePath);
    EXPECT_EQ(left[1].m_strFilePath, t3.m_strFilePath);
    EXPECT_EQ(left[0].m_tcVid[0], 0);
}

TEST_F(UploadEngine, UnconfirmedUploadIsNotFinished) {
    // The file changes under the transfer, so what arrives does not match the announced
    // digest and the service refuses the confirmation.
    std::string p = File("changed_" + std::to_string(::getpid()) + ".mp4", 4 * 1024 * 1024);
    UpInfo t = MakeTask(p);
    ASSERT_TRUE(AddUploadTaskList(t));
    FakeUploadView view;
    bool changed = false;
    view.onProgress = [&](int) {
        if (changed)
            return;
        changed = true;
        int fd = ::open(p.c_str(), O_WRONLY);
        char x = 0x5A;
        EXPECT_EQ(::pwrite(fd, &x, 1, t.m_nFileLen - 1), 1);
        ::close(fd);
    };
    EXPECT_EQ(UploadOneFile(t, &view), kUploadTransferFailed);
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    ASSERT_EQ(left.size(), 1u);
    // Kept, and to be announced anew with the file as it is now.
    EXPECT_EQ(left[0].m_tcVid[0], 0);
    EXPECT_EQ(RootEntries().count(t.m_strFileName), 0u);
    EXPECT_EQ(UploadOneFile(t), kUploadDone);
    EXPECT_EQ(RootEntries().count(t.m_strFileName), 1u);
}

TEST_F(UploadEngine, ARefusedAnnouncementFailsItsRowUntilRetried) {
    // The program log goes to this test's folder, to be read back.
    platform::OverrideModuleFileName(platform::FromNarrow(dir) + u"/QumoClient");
    ASSERT_TRUE(platform::CreateDir(platform::FromNarrow(dir + "/log")));
    ResetLogForTesting();
    ASSERT_NE(service->Admin("/admin/faults?refuse_announce=1"), "");
    UpInfo t = MakeTask(File("海边🌊_refused_" + std::to_string(::getpid()) + ".jpg", 30000));
    FakeUploadView view;
    {
        UploadSession session(view);
        session.Add({t}, true);
        // Failed at the first answer: status 400 is not asked again.
        ASSERT_TRUE(WaitUntil(
            [&] {
                std::lock_guard<std::mutex> g(view.m);
                return view.failedText.count(t.m_strFilePath) > 0;
            },
            30000));
        {
            std::lock_guard<std::mutex> g(view.m);
            EXPECT_EQ(view.failedText[t.m_strFilePath], kRefusedFileText);
        }
        EXPECT_EQ(session.StateOf(t.m_strFilePath), TaskState::Failed);
        EXPECT_EQ(session.ReasonOf(t.m_strFilePath), TaskReason::Refused);
        EXPECT_EQ(session.Pending(), 1);
        EXPECT_EQ(RootEntries().count(t.m_strFileName), 0u);
        std::vector<UpInfo> left;
        ASSERT_TRUE(ReadUploadTaskList(left));
        ASSERT_EQ(left.size(), 1u); // kept for the retry

        // 立即重试失败 sends it again; the service takes it this time.
        EXPECT_EQ(session.RetryFailed(), 1);
        ASSERT_TRUE(WaitUntil(
            [&] { return session.StateOf(t.m_strFilePath) == TaskState::Uploaded; }, 30000));
        EXPECT_EQ(RootEntries().count(t.m_strFileName), 1u);
    }
    std::string log;
    ASSERT_TRUE(
        platform::ReadWholeFile(platform::FromNarrow(dir + "/log/QumoClient.log"), log, 1 << 20));
    std::u16string text;
    for (std::size_t i = 2; i + 1 < log.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(log[i]) |
                                      (static_cast<unsigned char>(log[i + 1]) << 8));
    const std::u16string line =
        u"[ERROR] - file [" + t.m_strFileName + u"] allinone.json: status 400, refused";
    EXPECT_NE(text.find(line), std::u16string::npos);
    platform::OverrideModuleFileName(u"");
    ResetLogForTesting();
}

} // namespace
