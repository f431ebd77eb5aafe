// A client process for the kill test: it queues FILE (when given) in the list file, reads
// the user's tasks back and uploads them, printing "progress N" lines as it goes (slowly,
// so a test can kill it in the middle) and "result R bytes B" for each task.
//
//   upload_test_client API_HOST LIST_PATH UID TOKEN [FILE]
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "upload/upload_list_file.h"
#include "upload/upload_protocol.h"
#include "upload/upload_view.h"
#include "upload_it_util.h"

namespace {

class PrintingView : public IUploadView {
public:
    void AddUploadRow(const TaskRef&) override {}
    void SetRowValue(const std::u16string&, int) override {}
    void ShowQueueSummary(int) override {}
    void ShowNoSpaceMessage() override {}
    void PostProgress(int percent, const std::u16string&) override {
        std::printf("progress %d\n", percent);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    void PostAllPaused() override {}
    void ShowRowFailed(const std::u16string&, const std::u16string&) override {}
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 5)
        return 2;
    hosts::SetAllServiceHosts(argv[1]);
    CGlobalVar::m_strUploadListPath = platform::FromNarrow(argv[2]);
    GetAppSettings().SetUserInfo(argv[3], argv[4], "", "", 0, 1);
    if (argc > 5 && !AddUploadTaskList(upload_it::MakeTask(argv[5])))
        return 3;
    std::vector<UpInfo> tasks;
    if (!ReadUploadTaskList(tasks))
        return 4;
    PrintingView view;
    for (UpInfo& t : tasks) {
        uint64_t before = UploadBodyBytesSent();
        // As the worker would, try again a few times: the service may not yet have seen
        // the killed process's connection end.
        int r = UploadOneFile(t, &view);
        for (int i = 0; i < 4 && r < 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            r = UploadOneFile(t, &view);
        }
        std::printf("result %d bytes %llu\n", r,
                    static_cast<unsigned long long>(UploadBodyBytesSent() - before));
        std::fflush(stdout);
    }
    return 0;
}
