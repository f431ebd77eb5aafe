// The upload session's commands against a real qumo-service: a pause, resume or cancel is
// never lost at any step of a file's life, "uploaded" waits for the service's word, a low cap
// still finishes, and a logout with a worker still ending frees nothing it uses.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

#include "app/global_var.h"
#include "app/user_prefs.h"
#include "fake_upload_view.h"
#include "net/hosts.h"
#include "platform/socket.h"
#include "tests/api/service_session.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_session.h"
#include "upload_it_fixture.h"

using namespace upload_it;

namespace {

class UploadControl : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        prefs::Apply(prefs::UserPrefs{.transfers = 1});
    }
    void TearDown() override {
        session.reset();
        ServiceTest::TearDown();
    }
    void Queue(const std::vector<std::string>& paths) {
        std::vector<UpInfo> tasks;
        for (const std::string& p : paths)
            tasks.push_back(MakeTask(p));
        session->Add(std::move(tasks), true);
    }
    TaskState State(const std::string& p) { return session->StateOf(platform::FromNarrow(p)); }
    bool WaitState(const std::string& p, TaskState s, int ms = 30000) {
        return WaitUntil([&] { return State(p) == s; }, ms);
    }
    std::map<std::string, std::string> Stored() {
        std::map<std::string, std::string> m;
        for (const ServerFileEntry& e : service->ListFolder(0))
            m[platform::ToNarrow(e.name)] = StoredSha1(e.mobilepic);
        return m;
    }
    static std::string Name(const std::string& p) { return p.substr(p.rfind('/') + 1); }

    FakeUploadView view;
    std::unique_ptr<UploadSession> session = std::make_unique<UploadSession>(view);
};

// In each step of a file's life, a pause followed by a resume (even a second later, while
// the service still sits on the call) ends with the file uploaded, and a cancel ends with no
// byte of it sent after the cancel and nothing stored.
TEST_F(UploadControl, CommandsInEveryStepAreNeverLost) {
    struct Case {
        const char* tag;
        TaskState step;
        bool cancel;
    };
    const Case cases[] = {
        {"announce_pause", TaskState::Preparing, false},
        {"announce_cancel", TaskState::Preparing, true},
        {"send_pause", TaskState::Sending, false},
        {"send_cancel", TaskState::Sending, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        const bool sending = c.step == TaskState::Sending;
        // A slow announcement, or a slow transfer under a cap: the command lands inside it.
        prefs::Apply(prefs::UserPrefs{.transfers = 1, .capKBps = sending ? 40 : 0});
        service->Admin(sending ? "/admin/faults?delay_ms=0" : "/admin/faults?delay_ms=3000");
        const std::string f = Fresh(c.tag, 200000);
        const std::u16string path = platform::FromNarrow(f);
        Queue({f});
        ASSERT_TRUE(WaitState(f, c.step));
        if (!sending)
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // inside allinone
        if (c.cancel) {
            ASSERT_TRUE(session->Cancel(path));
            const uint64_t sent = UploadBodyBytesSent();
            EXPECT_TRUE(WaitUntil([&] { return !session->WorkerRunning(); }, 30000));
            // A chunk already on its way may finish; nothing after it.
            EXPECT_LE(UploadBodyBytesSent() - sent, 15360u);
            EXPECT_EQ(Stored().count(Name(f)), 0u);
            EXPECT_EQ(session->Pending(), 0);
        } else {
            ASSERT_TRUE(session->Pause(path));
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            ASSERT_TRUE(session->Resume(path));
            service->Admin("/admin/faults?delay_ms=0");
            prefs::Apply(prefs::UserPrefs{.transfers = 1});
            ASSERT_TRUE(WaitState(f, TaskState::Uploaded, 60000));
            EXPECT_EQ(Stored()[Name(f)], FileSha1(f));
            EXPECT_EQ(view.Progress(path).back(), 100);
        }
        service->Admin("/admin/faults?delay_ms=0");
        std::vector<UpInfo> left;
        ASSERT_TRUE(ReadUploadTaskList(left));
        EXPECT_TRUE(left.empty());
    }
}

// The service refuses the confirmation (the file changed during its transfer): the row never
// reached 100, clearing the finished rows leaves the task and its saved element, and the
// next attempt uploads the file as it is now.
TEST_F(UploadControl, RefusedConfirmationKeepsTheTaskQueuedAndSaved) {
    prefs::Apply(prefs::UserPrefs{.transfers = 1, .capKBps = 40});
    const std::string f = Fresh("edited", 120000);
    const std::u16string path = platform::FromNarrow(f);
    Queue({f});
    ASSERT_TRUE(WaitState(f, TaskState::Sending));
    {
        // Bytes not sent yet change in place: what arrives is not what was announced.
        int fd = ::open(f.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const std::string tail(1000, 'x');
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), 110000), 1000);
        ::close(fd);
    }
    ASSERT_TRUE(WaitState(f, TaskState::Again, 30000));
    const std::vector<int> before = view.Progress(path);
    EXPECT_TRUE(std::find(before.begin(), before.end(), 100) == before.end());
    EXPECT_TRUE(session->ClearFinished().empty());
    std::vector<UpInfo> saved;
    ASSERT_TRUE(ReadUploadTaskList(saved));
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].m_strFilePath, path);

    prefs::Apply(prefs::UserPrefs{.transfers = 1});
    EXPECT_EQ(session->RetryFailed(), 1);
    ASSERT_TRUE(WaitState(f, TaskState::Uploaded, 60000));
    EXPECT_EQ(Stored()[Name(f)], FileSha1(f));
}

// A cap of 1 KB/s still moves every transfer well within the service's stall limit, with
// one transfer and with three; nothing is sent twice.
TEST_F(UploadControl, LowCapFinishes) {
    for (int transfers : {1, 3}) {
        SCOPED_TRACE(transfers);
        prefs::Apply(prefs::UserPrefs{.transfers = transfers, .capKBps = 1});
        std::vector<std::string> files;
        for (int i = 0; i < transfers; ++i)
            files.push_back(
                Fresh("cap" + std::to_string(transfers) + "_" + std::to_string(i), 2500));
        const uint64_t sent = UploadBodyBytesSent();
        Queue(files);
        for (const std::string& f : files)
            ASSERT_TRUE(WaitState(f, TaskState::Uploaded, 60000));
        EXPECT_EQ(UploadBodyBytesSent() - sent, 2500u * files.size());
        auto stored = Stored();
        for (const std::string& f : files)
            EXPECT_EQ(stored[Name(f)], FileSha1(f));
    }
}

bool SlowResolve(const char* /*host*/, std::uint32_t& addr) {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    addr = htonl(INADDR_LOOPBACK);
    return true;
}

// Logout while the worker waits for a name lookup that takes seconds: the stop ends it
// within its bound, nothing it used is freed under it (the sanitizer build runs this), and
// the next login's worker runs and uploads.
TEST_F(UploadControl, LogoutDuringASlowLookupThenTheNextLoginUploads) {
    const std::string api = service->ApiHost();
    platform::SetResolverForTesting(&SlowResolve);
    hosts::SetApi("qumo-slow.test:" + std::to_string(service->Port()));
    const std::string first = Fresh("lookup", 30000);
    Queue({first});
    ASSERT_TRUE(WaitState(first, TaskState::Preparing));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // inside the lookup
    session->Reset();
    EXPECT_FALSE(session->WorkerRunning());
    EXPECT_EQ(session->Pending(), 0);

    platform::SetResolverForTesting(nullptr);
    hosts::SetApi(api);
    const std::string second = Fresh("nextlogin", 30000);
    Queue({second});
    ASSERT_TRUE(WaitState(second, TaskState::Uploaded, 60000));
    EXPECT_EQ(Stored()[Name(second)], FileSha1(second));
    // Let the lookup left behind end before the test's memory goes.
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

} // namespace
