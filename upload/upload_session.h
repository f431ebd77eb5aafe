// The upload session: the one owner of every upload task of the logged-in user, from its
// queueing to its end. It holds the tasks with their states, the index by path, the upload
// worker and its helpers, and every command the window (or a headless caller) gives: add,
// pause, resume, cancel, pause all, resume all, retry failed, clear finished, reset at
// logout. It tells the view what changed through IUploadView and never touches a window.
//
// Commands come from one owning thread (the window's); the worker's threads change states
// under the session's lock, which no caller ever sees.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/event.h"
#include "upload/upload_task.h"
#include "upload/upload_view.h"

class CUploadThread;

class UploadSession {
public:
    struct Options {
        // Uploaded tasks stay (as "uploaded") until cleared or cancelled, as their rows do;
        // a headless caller lets them go at once.
        bool keepFinished = true;
    };

    explicit UploadSession(IUploadView& view);
    UploadSession(IUploadView& view, Options options);
    // Stops the worker and waits for every thread that still works on a task.
    ~UploadSession();
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    // What the session knows of a path (for the duplicate messages).
    enum class Known { None, Queued, Uploaded };
    Known Lookup(const std::u16string& fullPath) const;

    // Appends tasks at the end of the queue, in order, and starts the worker; a record whose
    // status is 5 comes in paused. With `save`,
    // the list file gets them first, in one write (false when that write failed; the tasks
    // are queued all the same).
    bool Add(std::vector<UpInfo> tasks, bool save);
    // The same for tasks made with MakeTask, so a view can show them before they are queued.
    bool Add(std::vector<TaskRef> tasks, bool save);
    // A task not yet in any session: a view shows this object, which the session then owns.
    static TaskRef MakeTask(UpInfo info);
    // Reads the logged-in user's saved queue (tasks marked listed); false when there is no
    // readable list, with the name it was set aside under in `setAside` when it was.
    bool ReadSaved(std::vector<UpInfo>& tasks, std::u16string& setAside);

    // A row's commands; false when no task has this path.
    bool Pause(const std::u16string& fullPath);
    bool Resume(const std::u16string& fullPath);
    // The task leaves the session and the list file; an attempt in progress stops before
    // its next byte and is never confirmed. The list file loses the path's element even
    // when no task has it (an uploaded row).
    bool Cancel(const std::u16string& fullPath);

    // Queue-wide commands; each returns how many tasks it changed.
    int PauseAll();
    int ResumeAll();
    // Failed tasks and those waiting for another attempt are tried at once; the paths of the
    // failed ones go to `failed` when given.
    int RetryFailed(std::vector<std::u16string>* failed = nullptr);
    // The uploaded tasks leave the session; their paths, for the rows.
    std::vector<std::u16string> ClearFinished();

    // Logout: stops the worker (a worker that does not end within its bound is kept until
    // it does) and drops every task. The session is ready for the next user at once.
    void Reset();
    // Stops the worker within its bound; the tasks stay.
    void Stop();

    // Starts the worker when tasks are runnable and none runs.
    void EnsureWorker();
    bool WorkerRunning() const;

    // Queued tasks not yet finished (waiting, being worked on, paused or failed).
    int Pending() const;
    // The state of the task with this path; Cancelled when there is none.
    TaskState StateOf(const std::u16string& fullPath) const;
    TaskReason ReasonOf(const std::u16string& fullPath) const;
    // The command given to the attempt working on this path (2 while a pause of it stands,
    // even once the attempt took the flag); -1 when none works on it.
    int CommandOf(const std::u16string& fullPath) const;
    // Every task in queue order (tests, benchmarks).
    std::vector<TaskRef> Tasks() const;

private:
    friend class CUploadThread;
    using Guard = std::lock_guard<std::recursive_mutex>;

    static uint64_t KeyOf(const std::u16string& fullPath);
    TaskRef FindLocked(const std::u16string& fullPath) const;
    void IndexLocked(const TaskRef& task);
    void UnindexLocked(const UploadTask& task);
    void UncountLocked(UploadTask& task);
    void NotifyChanged();
    void ReapStopping();
    // Pauses a task under the lock; true when it changed.
    bool PauseLocked(UploadTask& task);
    bool ResumeLocked(UploadTask& task);

    IUploadView& m_view;
    Options m_options;
    mutable std::recursive_mutex m_lock;
    std::deque<TaskRef> m_waiting; // not yet taken by the worker
    std::deque<TaskRef> m_active;  // taken; dropped when finished
    // Every task the session has, by the hash of its path key. Uploaded tasks the window
    // still shows are held here alone.
    std::unordered_multimap<uint64_t, TaskRef> m_index;
    int m_pending = 0;
    platform::EventHandle m_changed;

    std::unique_ptr<CUploadThread> m_worker;
    std::vector<std::unique_ptr<CUploadThread>> m_stopping;
};
