// What the benchmarks of the headless upload engine share: a window that shows nothing and
// reports only what would stop a run.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "upload/upload_session.h"
#include "upload/upload_view.h"

namespace bench {

class QuietView : public IUploadView {
public:
    void AddUploadRow(const TaskRef&) override {}
    void SetRowValue(const std::u16string&, int) override {}
    void ShowQueueSummary(int) override {}
    void ShowNoSpaceMessage() override { std::printf("error: no space\n"); }
    void PostProgress(int, const std::u16string&) override {}
    void PostAllPaused() override {}
    void ShowRowFailed(const std::u16string& path, const std::u16string&) override {
        std::printf("error: unreadable %s\n", platform::ToNarrow(path).c_str());
    }
};

// Waits until the session's worker has ended by itself; false when none ran.
inline bool RunWorkerToEnd(UploadSession& session) {
    if (!session.WorkerRunning() && session.Pending() > 0)
        return false;
    while (session.WorkerRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

} // namespace bench
