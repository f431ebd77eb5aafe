// The server file listing against a real qumo-service: paging with the exact request
// parameters, thumbnails from the picture and video-thumbnail hosts, the failure budget
// of a run, and a stop in the middle of the downloads.
#include "serverdir/file_download_thread.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>

#include "app/app_settings.h"
#include "media/thumbnail.h"
#include "net/hosts.h"
#include "serverdir/server_dir_info.h"
#include "tests/media/preview_fake.h"
#include "tests/serverdir/serverdir_test_util.h"
#include "tests/service/service_client.h"

namespace {

using namespace sdtest;

class FakeControls : public IControlTextSink {
public:
    void SetControlText(const char16_t* control, const std::u16string& text) override {
        {
            std::lock_guard<std::mutex> lock(mu);
            texts.push_back(platform::ToNarrow(control) + "=" + platform::ToNarrow(text));
        }
        if (hook)
            hook();
    }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(mu);
        return texts;
    }
    std::function<void()> hook;
    std::mutex mu;
    std::vector<std::string> texts;
};

struct ListRequest {
    long long mid = 0, folderid = 0, num = 0;
    bool operator==(const ListRequest& o) const {
        return mid == o.mid && folderid == o.folderid && num == o.num;
    }
};
void PrintTo(const ListRequest& r, std::ostream* os) {
    *os << "{mid " << r.mid << ", folderid " << r.folderid << ", num " << r.num << "}";
}

bool IsWhite(const QImage& img) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                return false;
    return true;
}

// A loopback port nobody listens on.
std::string ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    int port = ntohs(a.sin_port);
    ::close(fd);
    return "127.0.0.1:" + std::to_string(port);
}

// One service for the suite: a new account whose root folder holds 75 files, and the
// demo account with its folders, pictures and video.
class FileDownLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        svc = new ServiceProcess;
        ASSERT_TRUE(svc->Start({"--demo"})) << svc->Error();
        std::string form = "mobile=pager&nick=pager&password=pager123&password2=pager123";
        RawResponse r;
        ASSERT_TRUE(RawExchange(svc->ApiPort(),
                                "POST /user/register HTTP/1.1\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: " +
                                    std::to_string(form.size()) + "\r\n\r\n" + form,
                                r));
        ASSERT_TRUE(LogIn(*svc, "pager", "pager123", pager));
        std::string data = RandomBytes(2000, 7);
        for (int i = 0; i < 75; ++i) {
            // Every third name has no extension: it is shown and saved as name.png.
            std::string name = "p" + std::to_string(i) + (i % 3 == 0 ? "" : ".png");
            int64_t id = UploadWhole(*svc, pager, 0, name, data);
            ASSERT_GT(id, 0) << i;
            ids.push_back(id);
            names.push_back(i % 3 == 0 ? name + ".png" : name);
        }
    }
    static void TearDownTestSuite() {
        delete svc;
        svc = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(svc, nullptr);
        hosts::SetAllServiceHosts(svc->ApiHost());
        m_logStart = Requests().size();
    }
    void TearDown() override {
        svc->SetFault("delay_ms", 0);
        svc->SetFault("fail_next", 0);
    }

    // Logs in, writes the folder tree and returns the cache directory of folder `fid`.
    std::u16string Prepare(const std::string& mobile, const std::string& password, int fid) {
        Login me;
        EXPECT_TRUE(LogIn(*svc, mobile, password, me));
        GetAppSettings().SetUserInfo(me.uid.c_str(), me.token.c_str(), "", "", 0, 1);
        FolderListAnswer folders = ApiGetFolderList(LoginKind::Account);
        EXPECT_EQ(folders.outcome, ApiOutcome::Ok);
        EXPECT_EQ(WriteServerDirInfo(folders.folders), 1);
        LoadServerDirTree(&tree, ServerDirInfoPath().c_str());
        const FakeTree::Node* item = tree.FindByData(fid);
        EXPECT_NE(item, nullptr);
        return ServerFolderCacheDir(&tree, item);
    }

    static std::vector<std::string> Requests() {
        Json::Value v;
        std::vector<std::string> out;
        if (ParseJson(svc->Admin("/admin/requests"), v))
            for (const Json::Value& r : v["attachment"]["requests"])
                out.push_back(r["target"].asString());
        return out;
    }
    // The file list requests since the test began, with their parameters.
    std::vector<ListRequest> ListRequests() const {
        std::vector<ListRequest> out;
        std::vector<std::string> all = Requests();
        for (std::size_t i = m_logStart; i < all.size(); ++i) {
            if (all[i].rfind("/getfilesforpc.json?", 0) != 0)
                continue;
            std::map<std::string, std::string> q;
            std::string rest = all[i].substr(all[i].find('?') + 1);
            for (std::size_t p = 0; p <= rest.size();) {
                std::size_t amp = rest.find('&', p);
                std::string kv = rest.substr(p, amp == std::string::npos ? amp : amp - p);
                q[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
                if (amp == std::string::npos)
                    break;
                p = amp + 1;
            }
            out.push_back({std::stoll(q["mid"]), std::stoll(q["folderid"]), std::stoll(q["num"])});
        }
        return out;
    }
    static int FidNamed(const std::u16string& name) {
        FolderListAnswer folders = ApiGetFolderList(LoginKind::Account);
        for (const ServerFolder& f : folders.folders)
            if (name == f.name)
                return f.fid;
        return -1;
    }

    static ServiceProcess* svc;
    static Login pager;
    static std::vector<int64_t> ids;
    static std::vector<std::string> names;

    InstallRoot ir;
    FakeTree tree;
    FakePreview preview;
    FakeControls controls;
    std::size_t m_logStart = 0;
};

ServiceProcess* FileDownLoad::svc = nullptr;
Login FileDownLoad::pager;
std::vector<int64_t> FileDownLoad::ids;
std::vector<std::string> FileDownLoad::names;

TEST_F(FileDownLoad, SeventyFiveFilesArriveInPagesOfThirtyThirtyFifteen) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    FileDownLoadThread worker(preview, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 60000));

    // Each page starts after the id of the previous page's last entry; the last asks for
    // exactly the 15 that are left.
    EXPECT_EQ(ListRequests(),
              (std::vector<ListRequest>{{-1, 0, 30}, {ids[29], 0, 30}, {ids[59], 0, 15}}));
    EXPECT_EQ(controls.Texts(), (std::vector<std::string>{"version_text=75个文件"}));

    ASSERT_EQ(preview.state.records.size(), 75u);
    std::vector<std::string> shown;
    for (const auto& n : preview.state.names)
        shown.push_back(platform::ToNarrow(n));
    EXPECT_EQ(shown, names);
    EXPECT_EQ(preview.state.folder, cacheDir);
    // Every small picture is in the cache under its display name, and nothing else is.
    std::vector<std::string> onDisk = Names(platform::ToNarrow(cacheDir));
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(onDisk, sorted);

    // The first group: two thumbnails with their records on a three-column grid.
    std::vector<std::string> events = preview.Events();
    const std::vector<std::string> firstGroup = {
        "redraw on",
        "count 30",
        "image 0",
        "insert 0 p0.png 0",
        "attach 0 " + std::to_string(ids[0]),
        "pos 0 40,40",
        "image 1",
        "insert 1 p1.png 1",
        "attach 1 " + std::to_string(ids[1]),
        "pos 1 240,40",
        "redraw on",
        "count 30",
    };
    ASSERT_GE(events.size(), firstGroup.size());
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 12), firstGroup);
    EXPECT_NE(std::find(events.begin(), events.end(), "pos 74 440,3880"), events.end());
    EXPECT_EQ(std::count(events.begin(), events.end(), "invalidate"), 3);
    int inserts = 0;
    for (const auto& e : events)
        inserts += e.rfind("insert ", 0) == 0;
    EXPECT_EQ(inserts, 75);
    std::vector<QImage> images = preview.Images();
    ASSERT_EQ(images.size(), 75u);
    EXPECT_FALSE(IsWhite(images[0]));
    EXPECT_FALSE(IsWhite(images[74]));
}

// A preview that shows only its first items: the listing waits for the user to scroll.
class ScrollingPreview : public FakePreview {
public:
    std::atomic<int> lastWanted{5};
    int LastWantedItem() override { return lastWanted.load(); }
};

TEST_F(FileDownLoad, PagesAreListedAsTheUserScrollsTowardThem) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    ScrollingPreview shown;
    FileDownLoadThread worker(shown, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    // Item 5 on screen: the first page and the one after it, then nothing more.
    for (int i = 0; i < 3000 && ListRequests().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ListRequests(), (std::vector<ListRequest>{{-1, 0, 30}, {ids[29], 0, 30}}));
    EXPECT_TRUE(worker.IsRunning());
    // Scrolled to the end: the rest comes.
    shown.lastWanted = 74;
    ASSERT_TRUE(WaitEnded(worker, 60000));
    EXPECT_EQ(ListRequests(),
              (std::vector<ListRequest>{{-1, 0, 30}, {ids[29], 0, 30}, {ids[59], 0, 15}}));
    EXPECT_EQ(shown.state.names.size(), 75u);
}

// A preview that makes its own thumbnails, showing items [first, last]: the listing
// places items at once and hands over each picture's file when it has arrived.
class ShowingPreview : public FakePreview {
public:
    std::atomic<int> first{0}, last{4};
    bool MakesOwnThumbnails() const override { return true; }
    ShownItems Shown() override { return {first.load(), last.load(), 1}; }
    void SetItemFile(int index, const std::u16string& file) override {
        std::lock_guard<std::mutex> lock(filesMu);
        files.emplace_back(index, file);
    }
    std::vector<std::pair<int, std::u16string>> Files() {
        std::lock_guard<std::mutex> lock(filesMu);
        return files;
    }
    // Waits (bounded) until `n` files have been handed over.
    bool WaitFiles(std::size_t n) {
        for (int i = 0; i < 3000 && Files().size() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // nothing more comes
        return Files().size() == n;
    }
    std::mutex filesMu;
    std::vector<std::pair<int, std::u16string>> files;
};

TEST_F(FileDownLoad, PicturesOfTheShownItemsComeFirstThenTheReadAhead) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    ShowingPreview shown;
    shown.first = 40;
    shown.last = 44;
    FileDownLoadThread worker(shown, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    // The screen, two screens ahead, one behind (nearest first); nothing else.
    ASSERT_TRUE(shown.WaitFiles(20));
    std::vector<int> order;
    for (const auto& f : shown.Files()) {
        order.push_back(f.first);
        EXPECT_EQ(f.second, FileDownLoadThread::ThumbnailFile(
                                cacheDir, shown.state.records[static_cast<std::size_t>(f.first)]));
    }
    EXPECT_EQ(order, (std::vector<int>{40, 41, 42, 43, 44, 45, 46, 47, 48, 49,
                                       50, 51, 52, 53, 54, 39, 38, 37, 36, 35}));
    // Every listed item is on the grid before its picture, in listing order.
    int inserts = 0;
    for (const auto& e : shown.Events())
        inserts += e.rfind("insert ", 0) == 0;
    EXPECT_EQ(inserts, 75);
    EXPECT_EQ(Names(platform::ToNarrow(cacheDir)).size(), 20u);
    EXPECT_TRUE(worker.IsRunning()); // waiting for the user to scroll
    EXPECT_TRUE(worker.Stop());
}

TEST_F(FileDownLoad, TheCacheFolderKeepsTheNewestPicturesWithinItsBound) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    ShowingPreview shown; // items 0 to 4: those and ten ahead
    FileDownLoadThread worker(shown, controls, 0, cacheDir);
    worker.SetCacheBound(10, 1LL << 30);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(shown.WaitFiles(15)); // over the bound, but all still wanted
    EXPECT_EQ(Names(platform::ToNarrow(cacheDir)).size(), 15u);
    // A jump to the end: its pictures come and the first screen's go, oldest first, each
    // item losing its file.
    shown.first = 70;
    shown.last = 74;
    ASSERT_TRUE(shown.WaitFiles(15 + 10 + 15));
    std::vector<std::pair<int, std::u16string>> files = shown.Files();
    std::map<int, std::u16string> last;
    for (const auto& f : files)
        last[f.first] = f.second;
    std::vector<std::string> kept;
    for (int i = 0; i < 75; ++i) {
        const bool wanted = i >= 65;
        if (i < 15 || wanted) {
            ASSERT_EQ(last.count(i), 1u) << i;
            EXPECT_EQ(last[i].empty(), !wanted) << i;
        } else {
            EXPECT_EQ(last.count(i), 0u) << i;
        }
        if (wanted)
            kept.push_back(names[static_cast<std::size_t>(i)]);
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(Names(platform::ToNarrow(cacheDir)), kept);
    EXPECT_TRUE(worker.Stop());
}

TEST_F(FileDownLoad, StopEndsAListingWaitingForTheUser) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    ScrollingPreview shown;
    FileDownLoadThread worker(shown, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    for (int i = 0; i < 3000 && shown.Events().size() < 60 * 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(worker.Stop());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(ListRequests().size(), 2u);
}

TEST_F(FileDownLoad, VideoThumbnailComesFromTheVideoThumbnailHost) {
    std::u16string family = u"家庭相册";
    Prepare(ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), 0);
    const int fid = FidNamed(family);
    ASSERT_GT(fid, 0);
    const FakeTree::Node* item = tree.FindByData(fid);
    ASSERT_NE(item, nullptr);
    std::u16string cacheDir = ServerFolderCacheDir(&tree, item);
    // Only the video-thumbnail host answers.
    hosts::SetPicture(ClosedPort());

    FileDownLoadThread worker(preview, controls, fid, cacheDir);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 60000));

    EXPECT_EQ(controls.Texts(), (std::vector<std::string>{"version_text=14个文件"}));
    // The sub-folder is a record but has no name, picture or item.
    ASSERT_EQ(preview.state.records.size(), 14u);
    EXPECT_EQ(preview.state.records[0].m_entry->m_nItemType, 100);
    EXPECT_EQ(preview.state.records[0].m_entry->m_bIsDir, 1);
    ASSERT_EQ(preview.state.names.size(), 13u);
    EXPECT_EQ(Names(platform::ToNarrow(cacheDir)),
              (std::vector<std::string>{"宝宝成长", "宝宝第一次走路.mp4"}));

    int video = -1;
    for (std::size_t i = 0; i < preview.state.names.size(); ++i)
        if (preview.state.names[i] == u"宝宝第一次走路.mp4")
            video = static_cast<int>(i);
    ASSERT_GE(video, 0);
    std::vector<QImage> images = preview.Images();
    ASSERT_EQ(images.size(), 13u);
    EXPECT_FALSE(IsWhite(images[static_cast<std::size_t>(video)]));
    EXPECT_TRUE(IsWhite(images[video == 0 ? 1 : 0]));
    // Each picture that did not arrive is named in the log.
    std::string log = ir.LogText();
    EXPECT_NE(log.find("DownLoadUrlFile " + platform::ToNarrow(cacheDir) + "/全家福01.png failed."),
              std::string::npos)
        << log;
}

TEST_F(FileDownLoad, GivesUpAfterFourFailedAttempts) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    m_logStart = Requests().size();
    ASSERT_TRUE(svc->SetFault("fail_next", 10));
    FileDownLoadThread worker(preview, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 30000));
    EXPECT_EQ(ListRequests().size(), 4u);
    EXPECT_TRUE(controls.Texts().empty());
    EXPECT_TRUE(preview.Events().empty());
    EXPECT_TRUE(preview.state.names.empty());
}

TEST_F(FileDownLoad, FailedAttemptsCountOverTheWholeRun) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    m_logStart = Requests().size();
    // Two failures before the first page and two before the second: four in the run.
    ASSERT_TRUE(svc->SetFault("fail_next", 2));
    controls.hook = [] { svc->SetFault("fail_next", 2); };
    FileDownLoadThread worker(preview, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 30000));
    EXPECT_EQ(ListRequests(),
              (std::vector<ListRequest>{
                  {-1, 0, 30}, {-1, 0, 30}, {-1, 0, 30}, {ids[29], 0, 30}, {ids[29], 0, 30}}));
    EXPECT_EQ(preview.state.records.size(), 30u);
}

TEST_F(FileDownLoad, StopDuringTheDownloadsEndsWithinASecond) {
    std::u16string cacheDir = Prepare("pager", "pager123", 0);
    // Once the first page is in, every answer takes five seconds.
    std::atomic<bool> slow{false};
    controls.hook = [&slow] {
        svc->SetFault("delay_ms", 5000);
        slow = true;
    };
    FileDownLoadThread worker(preview, controls, 0, cacheDir);
    ASSERT_TRUE(worker.Start());
    for (int i = 0; i < 3000 && !slow; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(slow.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(worker.Stop());
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_LT(ms, 1000);
    EXPECT_FALSE(worker.IsRunning());
    // It stopped in its first group: no thumbnail was shown.
    for (const auto& e : preview.Events())
        EXPECT_NE(e.rfind("insert ", 0), 0u) << e;
    EXPECT_EQ(ListRequests().size(), 1u);
}

} // namespace
