// Several transfers at once against a real qumo-service: each file being worked on takes
// only its own pause or cancel, a file worked ahead and cancelled before its bytes is never
// sent, and lack of space met by several transfers pauses everything with one message.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "fake_upload_view.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_session.h"
#include "upload_it_fixture.h"

using namespace upload_it;

namespace {

class UploadParallel : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        prefs::Apply(prefs::UserPrefs{.transfers = 2});
    }
    UpInfo Queue(const std::string& name, int64_t size) {
        const std::string p = dir + "/" + name + "_" + std::to_string(::getpid()) + ".mp4";
        WriteFreshFile(p, size);
        UpInfo t = MakeTask(p);
        pending.push_back(t);
        return t;
    }
    // Hands the files made so far to the session at once, as a folder upload does.
    void Start() { session.Add(std::move(pending), true); }
    bool Busy(const UpInfo& t) {
        const TaskState s = session.StateOf(t.m_strFilePath);
        return s == TaskState::Preparing || s == TaskState::WaitingForTransfer ||
               s == TaskState::Sending || s == TaskState::Confirming;
    }
    bool Stored(const UpInfo& t) {
        for (const ServerFileEntry& e : service->ListFolder(0))
            if (e.name == t.m_strFileName)
                return true;
        return false;
    }
    TaskState StateOf(const UpInfo& t) { return session.StateOf(t.m_strFilePath); }

    std::vector<UpInfo> pending;
    FakeUploadView view;
    UploadSession session{view};
};

TEST_F(UploadParallel, EachFileTakesOnlyItsOwnCommand) {
    std::vector<UpInfo> all;
    for (const char* name : {"pa", "pb", "pc", "pd"})
        all.push_back(Queue(name, 4 << 20));
    // The two transfers hold in their progress, so the other two files wait, announced,
    // for a free transfer.
    std::atomic<bool> release{false};
    std::atomic<int> holding{0};
    view.onProgress = [&](int percent) {
        if (percent < 100 && !release) {
            ++holding;
            for (int i = 0; i < 6000 && !release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            --holding;
        }
    };
    Start();
    ASSERT_TRUE(WaitUntil(
        [&] {
            return holding == 2 &&
                   std::all_of(all.begin(), all.end(), [&](const UpInfo& t) { return Busy(t); });
        },
        60000));
    std::vector<UpInfo> sending, ahead;
    for (const UpInfo& t : all)
        (view.Progress(t.m_strFilePath).empty() ? ahead : sending).push_back(t);
    ASSERT_EQ(sending.size(), 2u);
    // What the list does: a pause of one file being sent, a cancel of the other, and a
    // cancel of a file worked ahead.
    const UpInfo &paused = sending[0], &cancelled = sending[1], &cancelledAhead = ahead[0],
                 &finished = ahead[1];
    EXPECT_TRUE(session.Pause(paused.m_strFilePath));
    for (const UpInfo* t : {&cancelled, &cancelledAhead})
        EXPECT_TRUE(session.Cancel(t->m_strFilePath));
    release = true;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return StateOf(paused) == TaskState::Paused && StateOf(finished) == TaskState::Uploaded;
        },
        60000));
    EXPECT_TRUE(session.WorkerRunning()); // waits for the paused file's resume
    EXPECT_FALSE(Stored(paused));
    EXPECT_FALSE(Stored(cancelled));
    EXPECT_FALSE(Stored(cancelledAhead));
    EXPECT_TRUE(Stored(finished));
    EXPECT_EQ(view.Progress(cancelledAhead.m_strFilePath), std::vector<int>{}); // no byte sent
    std::vector<UpInfo> left;
    ASSERT_TRUE(ReadUploadTaskList(left));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].m_strFilePath, paused.m_strFilePath);
    EXPECT_NE(left[0].m_tcVid[0], 0); // announced: a resume goes on from the service's offset
    EXPECT_EQ(session.Pending(), 1);
    session.Stop();
}

TEST_F(UploadParallel, LackOfSpaceMetByEveryTransferGivesOneMessage) {
    SpaceAnswer space = ApiGetSpace(platform::FromNarrow(service->login.uid),
                                    platform::FromNarrow(service->login.token));
    ASSERT_EQ(space.outcome, ApiOutcome::Ok);
    ASSERT_NE(service->Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                             "&mb=" + std::to_string(space.usedSpace)),
              "");
    std::vector<UpInfo> tasks;
    for (int i = 0; i < 4; ++i)
        tasks.push_back(Queue("full" + std::to_string(i), 3 << 20));
    Start();
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(view.m);
            return view.allPaused == 1;
        },
        60000));
    for (const UpInfo& t : tasks)
        EXPECT_EQ(StateOf(t), TaskState::Paused);
    EXPECT_TRUE(session.WorkerRunning());
    session.Stop();
    service->Admin(std::string("/admin/space?mobile=") + ServiceSession::DemoMobile() +
                   "&mb=65536");
    std::lock_guard<std::mutex> g(view.m);
    EXPECT_EQ(view.noSpaceMessages, 1);
    EXPECT_EQ(view.allPaused, 1);
}

} // namespace
