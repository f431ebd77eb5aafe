// The soak run: a folder of media files of mixed sizes uploaded to qumo-service while the
// service drops upload bodies and fails API calls by chance and the client process is
// killed with SIGKILL and started again at a fixed interval. Every file must end up in the
// chosen server folder exactly once with its content, the upload list file must be sound
// after every kill and empty at the end, and the client's memory must not grow from one
// start to the next. The figures go to stdout.
//
// Knobs (environment): QUMO_SOAK_FILES (2000), QUMO_SOAK_KILL_SECONDS (20), QUMO_SOAK_SEED
// (1), QUMO_SOAK_MAX_MINUTES (45), QUMO_SOAK_KEEP (keep the folders when set).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "base/xml.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "tests/0support/service_process.h"
#include "tests/api/service_session.h"
#include "tests/upload/upload_it_util.h"

namespace {

using Clock = std::chrono::steady_clock;

long long EnvInt(const char* name, long long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoll(v) : fallback;
}

struct LocalFile {
    std::string path, name, sha1;
    int64_t size = 0;
};

// Most files small, some of a few megabytes, a few of tens of megabytes; content unique
// (the index leads every file) and repeatable for a seed.
std::vector<LocalFile> MakeMediaFolder(const std::string& folder, int count, uint64_t seed) {
    static const char* kPictures[] = {"jpg", "png", "gif", "jpeg", "bmp", "JPG"};
    static const char* kVideos[] = {"mp4", "mov", "avi", "mkv", "flv", "wmv"};
    static const char* kSubFolders[] = {"",          "2012",           "2012/春节", "2013",
                                        "2013/旅行", "2013/旅行/海边", "手机",      "camera roll"};
    for (const char* sub : kSubFolders)
        ::mkdir((folder + "/" + sub).c_str(), 0755);
    std::mt19937_64 rng(seed);
    const int large = std::max(1, count / 400);
    const int medium = std::max(1, count / 25);
    const int64_t edges[] = {15359, 15360, 15361, 30720};
    std::vector<LocalFile> files;
    std::vector<uint64_t> block(8192);
    for (int i = 0; i < count; ++i) {
        int64_t size;
        bool video = false;
        if (i < large) {
            size = 10 * 1024 * 1024 + static_cast<int64_t>(rng() % (15 * 1024 * 1024));
            video = true;
        } else if (i < large + medium) {
            size = 1024 * 1024 + static_cast<int64_t>(rng() % (1536 * 1024));
            video = i % 2 == 0;
        } else if (i < large + medium + 4) {
            size = edges[i - large - medium];
        } else {
            double u = static_cast<double>(rng() % 1000000) / 1000000.0;
            size = 16 + static_cast<int64_t>(u * u * u * 128 * 1024);
        }
        char name[64];
        const char* ext = video ? kVideos[i % 6] : kPictures[i % 6];
        std::snprintf(name, sizeof name, i % 10 == 3 ? "照片_%04d.%s" : "soak_%04d.%s", i, ext);
        const char* sub = kSubFolders[i % 8];
        LocalFile f;
        f.path = folder + (*sub ? "/" + std::string(sub) : "") + "/" + name;
        f.name = name;
        f.size = size;
        std::ofstream out(f.path, std::ios::binary | std::ios::trunc);
        uint64_t index = static_cast<uint64_t>(i) + 1;
        int64_t left = size;
        bool first = true;
        while (left > 0) {
            for (auto& w : block)
                w = rng();
            if (first)
                block[0] = index;
            first = false;
            int64_t n = std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8));
            out.write(reinterpret_cast<const char*>(block.data()), n);
            left -= n;
        }
        out.close();
        f.sha1 = upload_it::FileSha1(f.path);
        files.push_back(f);
    }
    return files;
}

// VmRSS and VmHWM of a process, in kB.
void ReadMemory(pid_t pid, long& rss, long& hwm) {
    rss = hwm = -1;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atol(line.c_str() + 6);
        else if (line.rfind("VmHWM:", 0) == 0)
            hwm = std::atol(line.c_str() + 6);
    }
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Checks the list file as a kill left it; the number of tasks it holds, -1 when unsound.
int CheckListFile(const std::string& path, const std::u16string& uid,
                  const std::set<std::u16string>& ours, std::string& why) {
    std::string bytes = upload_it::ReadBytes(path);
    const std::string head = upload_it::ListFileBytes(u"");
    if (bytes.compare(0, head.size(), head) != 0) {
        why = "no byte order mark and declaration";
        return -1;
    }
    const std::string tail = upload_it::ListFileBytes(u"</QumoUploadList>").substr(head.size());
    if (bytes.size() < tail.size() ||
        bytes.compare(bytes.size() - tail.size(), tail.size(), tail) != 0) {
        why = "does not end with the closing tag";
        return -1;
    }
    XmlNode root;
    if (!LoadFile(platform::FromNarrow(path), root) || root.name != u"QumoUploadList") {
        why = "does not parse";
        return -1;
    }
    const XmlNode* group = nullptr;
    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
        const XmlNode* c = root.GetChild(i);
        const XmlAttribute* user = c->FindAttr(u"UserName");
        if (c->name != u"UserInfo" || !user) {
            why = "a top element that is not a user's group";
            return -1;
        }
        if (user->value == uid) {
            if (group) {
                why = "two groups for the user";
                return -1;
            }
            group = c;
        }
    }
    if (!group) {
        why = "no group for the user";
        return -1;
    }
    std::set<std::u16string> seen;
    for (std::size_t i = 0; i < group->ChildCount(); ++i) {
        const XmlNode* e = group->GetChild(i);
        const XmlAttribute* p = e->FindAttr(u"FileAllPath");
        const XmlAttribute* st = e->FindAttr(u"UploadStatus");
        if (e->name != u"QumoFileInfo" || !p || !st || e->AttrCount() != 11) {
            why = "a malformed task element";
            return -1;
        }
        if (!ours.count(p->value) || !seen.insert(p->value).second) {
            why = "a foreign or repeated task " + platform::ToNarrow(p->value);
            return -1;
        }
        if (st->value == u"1") {
            for (const char16_t* k : {u"UploadId", u"UploadMid", u"UploadIp", u"UploadPort"})
                if (!e->FindAttr(k) || e->FindAttr(k)->value.empty()) {
                    why = "an announced task without its upload values";
                    return -1;
                }
        } else if (st->value != u"0") {
            why = "a bad UploadStatus";
            return -1;
        }
    }
    return static_cast<int>(seen.size());
}

struct ClientRun {
    int index = 0;
    double seconds = 0;
    bool killed = false;
    long rssKb = -1, hwmKb = -1;
    int tasksAfter = -1;
};

TEST(UploadSoak, EveryFileArrivesOnceThroughKillsAndFaults) {
    const int fileCount = static_cast<int>(EnvInt("QUMO_SOAK_FILES", 2000));
    const int killSeconds = static_cast<int>(EnvInt("QUMO_SOAK_KILL_SECONDS", 20));
    const uint64_t seed = static_cast<uint64_t>(EnvInt("QUMO_SOAK_SEED", 1));
    const long long maxMinutes = EnvInt("QUMO_SOAK_MAX_MINUTES", 45);

    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/qumo_soak_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    ASSERT_NE(::mkdtemp(buf.data()), nullptr);
    const std::string root = buf.data();
    const std::string media = root + "/相册 media";
    const std::string program = root + "/QumoClient";
    const std::string runs = root + "/runs";
    ASSERT_EQ(::mkdir(media.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(runs.c_str(), 0755), 0);

    // The service's data in memory when there is a memory file system: the run measures
    // the client, not the disk's flushes.
    ServiceProcess svc;
    if (::access("/dev/shm", W_OK) == 0)
        svc.SetTempRoot("/dev/shm");
    ASSERT_TRUE(svc.Start({"--demo", "--fault-seed", std::to_string(seed)})) << svc.Error();
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 1 << 20));
    hosts::SetAllServiceHosts(svc.ApiHost());
    LoginAnswer login = ApiLogin(platform::FromNarrow(ServiceProcess::DemoMobile()),
                                 platform::FromNarrow(ServiceProcess::DemoPassword()));
    ASSERT_EQ(login.outcome, ApiOutcome::Ok);
    GetAppSettings().SetUserInfo(login.uid.c_str(), login.token.c_str(), "", "", 0, 1);

    // The chosen server folder: the first one below the root, with its path as shown.
    FolderListAnswer folders = ApiGetFolderList(LoginKind::Account);
    ASSERT_EQ(folders.outcome, ApiOutcome::Ok);
    const ServerFolder* chosen = nullptr;
    std::u16string rootName;
    for (const ServerFolder& f : folders.folders) {
        if (f.fid == 0)
            rootName = f.name;
        else if (!chosen)
            chosen = &f;
    }
    ASSERT_NE(chosen, nullptr);
    const int fid = chosen->fid;
    const std::string folderPath = platform::ToNarrow(rootName + u"/" + chosen->name);
    std::set<std::u16string> before;
    for (const ServerFileEntry& e : ListServerFolder(fid))
        before.insert(e.id);

    auto t0 = Clock::now();
    std::vector<LocalFile> files = MakeMediaFolder(media, fileCount, seed);
    int64_t totalBytes = 0;
    std::set<std::u16string> ours;
    for (const LocalFile& f : files) {
        totalBytes += f.size;
        ours.insert(platform::FromNarrow(f.path));
    }
    const double makeSeconds = std::chrono::duration<double>(Clock::now() - t0).count();

    ASSERT_NE(svc.Admin("/admin/faults?drop_upload_percent=5&fail_api_percent=1"), "");

    const std::string listPath = program + "/QumolanUploadList.xml";
    const std::string marker = program + "/soak-folder-queued";
    std::vector<ClientRun> history;
    auto start = Clock::now();
    bool finished = false;
    int stalled = 0, lastTasks = -1;
    for (int i = 1; !finished; ++i) {
        ASSERT_LT(Clock::now() - start, std::chrono::minutes(maxMinutes)) << "no end in sight";
        ClientRun run;
        run.index = i;
        std::string log = runs + "/run-" + std::to_string(i) + ".log";
        auto began = Clock::now();
        pid_t pid = Spawn({QUMO_SOAK_CLIENT, root, svc.ApiHost(), ServiceProcess::DemoMobile(),
                           ServiceProcess::DemoPassword(), media, std::to_string(fid), folderPath},
                          log);
        ASSERT_GT(pid, 0);
        int status = 0;
        bool exited = false;
        auto deadline = began + std::chrono::seconds(killSeconds);
        while (Clock::now() < deadline) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!exited) {
            ReadMemory(pid, run.rssKb, run.hwmKb);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.killed = true;
        }
        run.seconds = std::chrono::duration<double>(Clock::now() - began).count();
        if (exited) {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "the client failed; see " << log << "\n"
                << upload_it::ReadBytes(log).substr(0, 4000);
            finished = true;
        }

        // The list file as the kill (or the end) left it.
        if (::access(listPath.c_str(), F_OK) != 0) {
            ASSERT_NE(::access(marker.c_str(), F_OK), 0) << "queued but no list file";
        } else {
            std::string why;
            run.tasksAfter = CheckListFile(listPath, CGlobalVar::m_strUid, ours, why);
            ASSERT_GE(run.tasksAfter, 0) << "after run " << i << ": " << why;
        }
        history.push_back(run);
        std::printf("run %3d %s after %5.1f s: %5d tasks left, VmRSS %6ld kB, VmHWM %6ld kB\n", i,
                    run.killed ? "killed" : "ended ", run.seconds, run.tasksAfter, run.rssKb,
                    run.hwmKb);
        std::fflush(stdout);
        if (run.tasksAfter >= 0 && run.tasksAfter == lastTasks) {
            ASSERT_LT(++stalled, 8) << "no task finished in 8 runs; see " << log;
        } else {
            stalled = 0;
        }
        lastTasks = run.tasksAfter;
    }
    const double soakSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    // At the end the user's group is there without tasks, written as the writer writes it.
    EXPECT_EQ(history.back().tasksAfter, 0);
    EXPECT_EQ(upload_it::ReadBytes(listPath), upload_it::ListWith(CGlobalVar::m_strUid, {}));

    // The service's side, with the faults off.
    ASSERT_NE(svc.Admin("/admin/faults?drop_upload_percent=0&fail_api_percent=0"), "");
    std::map<std::string, std::vector<ServerFileEntry>> byName;
    std::set<std::string> blobs;
    int duplicates = 0, wrong = 0, missing = 0, foreign = 0, sameBlob = 0;
    for (const ServerFileEntry& e : ListServerFolder(fid)) {
        if (before.count(e.id))
            continue;
        byName[platform::ToNarrow(e.name)].push_back(e);
        if (!blobs.insert(upload_it::StoredSha1(e.mobilepic)).second)
            ++sameBlob;
    }
    std::set<std::string> names;
    for (const LocalFile& f : files) {
        names.insert(f.name);
        auto it = byName.find(f.name);
        if (it == byName.end()) {
            ++missing;
            ADD_FAILURE() << "missing on the service: " << f.path;
            continue;
        }
        if (it->second.size() != 1) {
            ++duplicates;
            ADD_FAILURE() << it->second.size() << " copies of " << f.name;
        }
        const ServerFileEntry& e = it->second.front();
        if (upload_it::StoredSha1(e.mobilepic) != f.sha1 ||
            static_cast<int64_t>(e.size) != f.size) {
            ++wrong;
            ADD_FAILURE() << "wrong content for " << f.name;
        }
    }
    for (const auto& [name, entries] : byName)
        if (!names.count(name)) {
            ++foreign;
            ADD_FAILURE() << "an entry no file made: " << name;
        }
    EXPECT_EQ(sameBlob, 0);
    // None of them went to the root folder instead.
    for (const ServerFileEntry& e : ListServerFolder(0))
        EXPECT_EQ(names.count(platform::ToNarrow(e.name)), 0u) << platform::ToNarrow(e.name);

    // Memory: the later starts use no more than the earlier ones (plus some slack).
    std::vector<long> hwm;
    for (const ClientRun& r : history)
        if (r.killed && r.hwmKb > 0)
            hwm.push_back(r.hwmKb);
    long earlyMax = 0, lateMax = 0;
    const std::size_t half = (hwm.size() + 1) / 2;
    for (std::size_t k = 0; k < hwm.size(); ++k) {
        long& m = k < half ? earlyMax : lateMax;
        m = std::max(m, hwm[k]);
    }
    // Too few kills (a fast machine finishes within a couple of intervals) say nothing.
    if (hwm.size() >= 4)
        EXPECT_LE(lateMax, earlyMax + 16 * 1024) << "the client's peak memory grew across restarts";
    else
        std::printf("(only %zu measured starts: memory not compared)\n", hwm.size());

    // Temporary files of list-file writes that a kill cut short stay beside the list.
    int strays = 0;
    if (DIR* d = ::opendir(program.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name).rfind(".QumolanUploadList.xml.", 0) == 0)
                ++strays;
        ::closedir(d);
    }

    int kills = 0;
    for (const ClientRun& r : history)
        kills += r.killed ? 1 : 0;
    std::printf("\nsoak figures (seed %llu)\n", static_cast<unsigned long long>(seed));
    std::printf("  files            %d in %s (made in %.1f s)\n", fileCount, folderPath.c_str(),
                makeSeconds);
    std::printf("  bytes            %lld (%.1f MB)\n", static_cast<long long>(totalBytes),
                static_cast<double>(totalBytes) / (1024.0 * 1024.0));
    std::printf("  client starts    %zu, kills %d, kill interval %d s\n", history.size(), kills,
                killSeconds);
    std::printf("  duration         %.1f s\n", soakSeconds);
    std::printf("  injected         %lld upload bodies dropped, %lld API calls answered 500\n",
                svc.Counter("dropped_connections"), svc.Counter("failed_500"));
    std::printf("  service          %lld API calls, %lld uploads opened, %lld instant, %lld "
                "finished, %lld body bytes received (%.2f x the files)\n",
                svc.Counter("api_calls"), svc.Counter("uploads_opened"),
                svc.Counter("instant_uploads"), svc.Counter("uploads_finished"),
                svc.Counter("upload_bytes"),
                static_cast<double>(svc.Counter("upload_bytes")) / static_cast<double>(totalBytes));
    std::printf("  result           %d missing, %d duplicated, %d wrong content, %d foreign\n",
                missing, duplicates, wrong, foreign);
    std::printf("  left behind      %d unfinished list-file writes in the program folder\n",
                strays);
    std::printf("  client memory    VmHWM first half max %ld kB, second half max %ld kB\n",
                earlyMax, lateMax);
    std::fflush(stdout);

    if (!std::getenv("QUMO_SOAK_KEEP") && !HasFailure())
        EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
    else
        std::printf("  kept             %s\n", root.c_str());
}

} // namespace
