// The upload worker's scheduling without a service: a failing task is retried with a
// growing pause, paused tasks are not spun over, and a stop ends the worker promptly.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "fake_upload_view.h"
#include "net/hosts.h"
#include "upload/upload_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback listener that accepts every connection, counts it and closes it at once:
// every request made to it fails.
class ClosingListener {
public:
    ClosingListener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(fd_, 64);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) {
                    int c = accept(fd_, nullptr, nullptr);
                    if (c >= 0) {
                        ++accepted_;
                        close(c);
                    }
                }
            }
        });
    }
    ~ClosingListener() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    int Port() const { return port_; }
    int Accepted() const { return accepted_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread thread_;
};

class UploadThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_worker_XXXXXX";
        dir_ = mkdtemp(tmpl);
        file_ = dir_ + "/a.mp4";
        std::ofstream(file_) << "some bytes";
        std::string list = dir_ + "/QumolanUploadList.xml";
        CGlobalVar::m_strUploadListPath = std::u16string(list.begin(), list.end());
        CGlobalVar::m_strUid = u"1";
        std::snprintf(GetAppSettings().m_szUid, sizeof GetAppSettings().m_szUid, "1");
        std::snprintf(GetAppSettings().m_szToken, sizeof GetAppSettings().m_szToken, "t");
        hosts::SetApi("127.0.0.1:" + std::to_string(listener_.Port()));
    }
    void TearDown() override {
        hosts::SetApi("127.0.0.1:8410");
        std::string cmd = "rm -rf " + dir_;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    UpInfo Task(int status) {
        UpInfo t;
        t.m_strFilePath = std::u16string(file_.begin(), file_.end());
        t.m_strFileName = u"a.mp4";
        CopyToFixed(t.m_tcExt, u"mp4");
        t.m_nFileLen = 10;
        t.m_nNetDirId = 0;
        t.m_nStatus = status;
        return t;
    }
    static bool WaitUntil(const std::function<bool()>& cond, int ms) {
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            if (cond())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return cond();
    }

    ClosingListener listener_;
    std::string dir_, file_;
    FakeUploadView view_;
    UploadSession session_{view_};
};

TEST_F(UploadThreadTest, FailingTaskIsRetriedWithGrowingPauseAndStopsPromptly) {
    session_.Add({Task(0)}, false);
    // Passes at about 0 s, 1 s and 3 s: a handful of requests, not a flood.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    int seen = listener_.Accepted();
    EXPECT_GE(seen, 3);
    EXPECT_LE(seen, 24);
    EXPECT_EQ(session_.StateOf(Task(0).m_strFilePath), TaskState::Again);
    EXPECT_EQ(view_.rows.size(), 1u);
    session_.Stop();
    EXPECT_FALSE(session_.WorkerRunning());
}

TEST_F(UploadThreadTest, ResumeEndsThePauseAtOnce) {
    session_.Add({Task(0)}, false);
    ASSERT_TRUE(WaitUntil([&] { return listener_.Accepted() >= 1; }, 2000));
    // Let the pauses grow past a few seconds, then resume: the next attempt follows.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int before = listener_.Accepted();
    ASSERT_EQ(session_.RetryFailed(), 1);
    EXPECT_TRUE(WaitUntil([&] { return listener_.Accepted() > before; }, 800));
    session_.Stop();
}

TEST_F(UploadThreadTest, EverythingPausedMeansWaitingNotSpinning) {
    UpInfo a = Task(5);
    UpInfo b = Task(5);
    b.m_strFilePath += u"2";
    session_.Add({a, b}, false);
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(view_.m);
            return view_.rows.size() == 2;
        },
        2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(listener_.Accepted(), 0);
    EXPECT_TRUE(session_.WorkerRunning());
    EXPECT_EQ(session_.Pending(), 2);
    // Cancelling both lets the worker drop them and end by itself.
    EXPECT_TRUE(session_.Cancel(a.m_strFilePath));
    EXPECT_TRUE(session_.Cancel(b.m_strFilePath));
    EXPECT_TRUE(WaitUntil([&] { return !session_.WorkerRunning(); }, 2000));
    EXPECT_TRUE(session_.Tasks().empty());
    EXPECT_EQ(session_.Pending(), 0);
}

TEST_F(UploadThreadTest, StopWhileWaitingForAResume) {
    session_.Add({Task(5)}, false);
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> g(view_.m);
            return view_.rows.size() == 1;
        },
        2000));
    session_.Stop();
    EXPECT_FALSE(session_.WorkerRunning());
}

TEST(UploadViewTexts, RowSizeAndSummary) {
    EXPECT_EQ(UploadSizeText(0), u"0.0 KB");
    EXPECT_EQ(UploadSizeText(1536), u"1.5 KB");
    EXPECT_EQ(UploadSizeText(1024 * 1024), u"1024.0 KB");
    EXPECT_EQ(UploadSizeText(1024 * 1024 + 103), u"1.0 MB");
    EXPECT_EQ(UploadSizeText(5000000000LL), u"4768.4 MB");
    EXPECT_EQ(QueueSummaryTexts(3).copyrightText, u"3个文件正在上传......");
    EXPECT_EQ(QueueSummaryTexts(3).tabText, u"   文件上传进度(3)");
    EXPECT_EQ(QueueSummaryTexts(0).copyrightText, u"暂无上传任务");
    EXPECT_EQ(QueueSummaryTexts(0).tabText, u"   文件上传进度");
}

} // namespace
