// The upload queue shared by the main window and the upload worker: the waiting tasks,
// the active tasks, the active count and (in CGlobalVar) the current-upload path, all
// guarded by the re-entrant queue lock. The worker holds the lock only for in-memory
// work; when the list-file lock is needed too, the queue lock comes first.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "upload/up_info.h"

// Task statuses.
enum : int {
    kTaskNew = 0,
    kTaskRetry = 2, // attempt again in the next pass (also: resumed)
    kTaskDone = 3,  // finished, cancelled or removed; dropped at the end of the pass
    kTaskPaused = 5,
};

class UploadQueue {
public:
    UploadQueue();

    std::recursive_mutex& Lock() { return m_lock; }

    // Guarded by Lock(). Only the worker appends to or removes from `active`, and only
    // between uploads, so the task being uploaded keeps its place.
    std::deque<UpInfo> waiting;
    std::deque<UpInfo> active;
    int activeCount = 0;

    // Active count plus waiting tasks, read under the lock.
    int Pending();

    // Window commands; each takes the lock and wakes a waiting worker.
    void Enqueue(const UpInfo& task);
    // Sets the status of every active task with this path (resume: kTaskRetry, pause:
    // kTaskPaused); false when none matched.
    bool SetActiveStatus(const std::u16string& fullPath, int status);
    // Cancels a task that is not being sent: removes it from the waiting tasks, or marks an
    // active one done and lowers the active count. False when none matched.
    bool CancelQueued(const std::u16string& fullPath);

    // Tells a waiting worker that something changed (new task, resume, cancel).
    void NotifyChanged();

    // For the worker: forgets earlier changes, then waits up to `ms` (negative: no
    // limit) for the next one. Ready on a change, Timeout, or Cancelled by the thread's
    // stop event.
    void ClearChanged();
    platform::WaitResult WaitForChange(int ms);

    // Queue-wide window commands: each one change under the lock and one wake.
    // Pauses every unfinished task and stops the transfer in progress through the control
    // flag a row's pause sets; the number of tasks paused.
    int PauseAll();
    // Every paused task is tried again; the number resumed.
    int ResumeAll();
    // Tasks waiting for another attempt after a failure, and the paused tasks of
    // `failedPaths` (stopped by a failure the user can mend), are tried at once, without
    // the rest of their back-off; the number concerned.
    int RetryFailedNow(const std::vector<std::u16string>& failedPaths);

private:
    std::recursive_mutex m_lock;
    platform::EventHandle m_changed;
};
