// The upload worker: takes the queued tasks, uploads them one after another, turns each
// result into the task's status and ends when nothing is left.
#pragma once

#include "app/work_thread.h"
#include "upload/upload_queue.h"
#include "upload/upload_view.h"

class CUploadThread : public CWorkThread {
public:
    CUploadThread(UploadQueue& queue, IUploadView& view);
    // Stops and joins the thread before the members its run uses go away.
    ~CUploadThread() override;

    // Longest pause between passes in which every attempted task failed.
    static constexpr int kMaxBackoffMs = 60000;

protected:
    // 0 when it ended by itself or by a stop between passes, -1 when a stop ended it in
    // the middle of a pass.
    int Run(CWorkThread* worker) override;

private:
    // One pass; 1 to go on, 0 or -1 to end the run with that result.
    int Pass(bool& finishedAny, bool& failedAny);
    void OnNoSpace(int& endResult);
    // At the start of each file, under the queue lock: clears the control flag, applying a
    // pause or cancel that arrived late to the file it was meant for.
    void TakeLateControl();

    UploadQueue& m_queue;
    IUploadView& m_view;
};
