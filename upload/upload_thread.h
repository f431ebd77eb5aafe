// The upload worker of a session: takes the queued tasks, uploads them (several at once when
// the user allows it), turns each result into the task's state and ends when nothing is left.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "app/work_thread.h"
#include "upload/transfer_control.h"
#include "upload/upload_task.h"

class UploadSession;
class IUploadView;

class CUploadThread : public CWorkThread {
public:
    explicit CUploadThread(UploadSession& session);
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
        std::condition_variable idle;
        std::vector<TaskRef> work; // the runnable tasks at the pass's start, in order
        std::size_t next = 0;      // the next task to take, guarded by `lock`
        int end = 1;               // 1 to go on; 0 or -1 ends the run
        bool noSpace = false;      // lack of space was met: nothing more is taken
        int attempts = 0;          // threads in an attempt, guarded by `lock`
        std::atomic<bool> finishedAny{false};
        std::atomic<bool> failedAny{false};
    };

    // One pass; 1 to go on, 0 or -1 to end the run with that result.
    int Pass(bool& finishedAny, bool& failedAny);
    // Takes the pass's tasks one after another until none is left or the pass ends.
    void WorkOnTasks(PassState& pass);
    // Turns a task's upload result into its state.
    void Finish(UploadTask& task, int result, PassState& pass);
    // The first transfer to meet a lack of space: every other attempt stops first, then one
    // message, then every unfinished task is paused.
    void OnNoSpace(PassState& pass);

    UploadSession& m_session;
    IUploadView& m_view;
    // At most "transfers at once" files send their bytes at the same moment.
    transfers::TransferGate m_gate;
};
