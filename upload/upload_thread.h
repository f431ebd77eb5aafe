// The upload worker: takes the queued tasks, uploads them (several at once when the user
// allows it), turns each result into the task's status and ends when nothing is left.
#pragma once

#include <atomic>
#include <mutex>

#include "app/work_thread.h"
#include "upload/transfer_control.h"
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
    // What one pass shares among the threads that work on its tasks.
    struct PassState {
        std::mutex lock;
        std::size_t next = 0;  // the next task to take, guarded by `lock`
        std::size_t count = 0; // tasks in this pass
        int end = 1;           // 1 to go on; 0 or -1 ends the run
        bool noSpace = false;  // lack of space was met and handled
        std::atomic<bool> finishedAny{false};
        std::atomic<bool> failedAny{false};
    };

    // One pass; 1 to go on, 0 or -1 to end the run with that result.
    int Pass(bool& finishedAny, bool& failedAny);
    // Takes the pass's tasks one after another until none is left or the pass ends.
    void WorkOnTasks(PassState& pass);
    // Turns a task's upload result into its status.
    void Finish(UpInfo& task, int result, PassState& pass);
    // A pause (2) or cancel (1) that reached the file after its attempt ended.
    void ApplyLateControl(UpInfo& task, int flag);
    void OnNoSpace(int& endResult);

    UploadQueue& m_queue;
    IUploadView& m_view;
    // At most "transfers at once" files send their bytes at the same moment.
    transfers::TransferGate m_gate;
};
