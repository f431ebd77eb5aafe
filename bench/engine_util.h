// What the benchmarks of the headless upload engine share: a window that shows nothing and
// reports only what would stop a run.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "upload/upload_thread.h"
#include "upload/upload_view.h"

namespace bench {

class QuietView : public IUploadView {
public:
    void AddUploadRow(const UpInfo&) override {}
    void SetRowValue(const std::u16string&, int) override {}
    void ShowQueueSummary(int) override {}
    void ShowNoSpaceMessage() override { std::printf("error: no space\n"); }
    void PostProgress(int, const std::u16string&) override {}
    void PostAllPaused() override {}
    void ShowRowFailed(const std::u16string& path, const std::u16string&) override {
        std::printf("error: unreadable %s\n", platform::ToNarrow(path).c_str());
    }
};

// Runs the real upload worker over `queue` until it ends by itself; false when it did not
// start.
inline bool RunWorkerToEnd(UploadQueue& queue) {
    QuietView view;
    CUploadThread worker(queue, view);
    if (!worker.Start())
        return false;
    while (worker.IsRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

} // namespace bench
