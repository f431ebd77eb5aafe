// The client process of the soak run: what the program does from start-up to an empty
// upload queue, without windows. It pretends to be installed in a given install root, logs
// in, queues a local folder the first time (as the main window's folder upload does) or
// reads the saved queue (as the main window does at start-up), runs the upload worker and
// exits when the queue is empty. The soak test kills it at arbitrary moments.
//
//   soak_client INSTALL_ROOT API_HOST MOBILE PASSWORD MEDIA_FOLDER FOLDER_ID FOLDER_PATH
//
// Output lines: "queued N", "loaded N", "nothing left", "done N", "error ...".
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "app/program_paths.h"
#include "media/local_scan.h"
#include "net/api_calls.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "upload/upload_list_file.h"
#include "upload/upload_session.h"
#include "upload/upload_view.h"

namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void Say(const std::string& word, long long n) {
    Say(word + " " + std::to_string(n));
}

// The window side of the engine, as lines on stdout.
class LoggingView : public IUploadView {
public:
    void AddUploadRow(const TaskRef&) override { ++rows; }
    void SetRowValue(const std::u16string& fullPath, int value) override {
        if (value == 100)
            Say("instant " + platform::ToNarrow(fullPath));
    }
    void ShowQueueSummary(int n) override { Say("pending", n); }
    void ShowNoSpaceMessage() override { Say("error no space"); }
    void PostProgress(int percent, const std::u16string& fullPath) override {
        if (percent == 100)
            Say("sent " + platform::ToNarrow(fullPath));
    }
    void PostAllPaused() override { Say("error every row paused"); }
    void ShowRowFailed(const std::u16string&, const std::u16string&) override {
        Say("error a file could not be read");
    }

    std::atomic<int> rows{0};
};

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// The marker that the folder went into the queue: written once the list file holds it, so a
// kill between the two never queues the folder a second time.
bool WriteMarker(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::fsync(fd);
    ::close(fd);
    return true;
}

// The login window's call, tried again while the service fails it (it fails some calls on
// purpose).
bool LogIn(const std::string& mobile, const std::string& password) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        LoginAnswer a = ApiLogin(platform::FromNarrow(mobile), platform::FromNarrow(password));
        if (a.outcome == ApiOutcome::Ok) {
            GetAppSettings().SetUserInfo(a.uid.c_str(), a.token.c_str(), a.nick.c_str(),
                                         a.headface.c_str(), static_cast<int>(a.usedSpace),
                                         static_cast<int>(a.totalSpace));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: soak_client INSTALL_ROOT API_HOST MOBILE PASSWORD "
                             "MEDIA_FOLDER FOLDER_ID FOLDER_PATH\n");
        return 2;
    }
    const std::string root = argv[1];
    const std::string programFolder = root + "/QumoClient";
    const std::string marker = programFolder + "/soak-folder-queued";
    platform::OverrideModuleFileName(platform::FromNarrow(programFolder + "/QumoClient"));
    if (!ComputeProgramPaths()) {
        Say("error program paths");
        return 3;
    }
    hosts::SetAllServiceHosts(argv[2]);
    if (!LogIn(argv[3], argv[4])) {
        Say("error login");
        return 4;
    }
    const std::u16string folder = platform::FromNarrow(argv[5]);
    const int fid = std::atoi(argv[6]);
    CGlobalVar::m_strNetDirPath = platform::FromNarrow(argv[7]);

    LoggingView view;
    UploadSession session(view, UploadSession::Options{.keepFinished = false});

    // Start-up: the saved queue.
    std::vector<UpInfo> saved;
    platform::FileAttributes fa;
    if (platform::GetFileAttributesEx(CGlobalVar::m_strUploadListPath, fa) &&
        !ReadUploadTaskList(saved)) {
        Say("error list file unreadable");
        return 5;
    }
    if (!saved.empty()) {
        for (UpInfo& t : saved)
            t.m_bListed = 1;
        const std::size_t n = saved.size();
        session.Add(std::move(saved), false);
        if (!Exists(marker) && !WriteMarker(marker)) {
            Say("error marker");
            return 6;
        }
        Say("loaded", static_cast<long long>(n));
    } else if (Exists(marker)) {
        Say("nothing left");
        return 0;
    } else {
        // The folder upload: new tasks in the scan's reverse order, the list file written
        // once for the whole run of new tasks before the worker sees them.
        std::size_t added = 0;
        {
            std::vector<UpInfo> tasks;
            FindDirAndFiles(folder.c_str(), tasks, fid);
            std::vector<UpInfo> pending;
            for (auto it = tasks.rbegin(); it != tasks.rend(); ++it) {
                it->m_bListed = 1;
                pending.push_back(std::move(*it));
            }
            added = pending.size();
            if (!pending.empty() && !session.Add(std::move(pending), true)) {
                Say("error list file not written");
                return 7;
            }
        }
        if (added == 0) {
            Say("error nothing to upload");
            return 8;
        }
        if (!WriteMarker(marker)) {
            Say("error marker");
            return 6;
        }
        Say("queued", static_cast<long long>(added));
    }

    while (session.WorkerRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int left = session.Pending();
    Say("done", left);
    return left == 0 ? 0 : 10;
}
