#include "upload/upload_session.h"

#include <algorithm>

#include "app/global_var.h"
#include "base/log.h"
#include "platform/files.h"
#include "upload/transfer_stats.h"
#include "upload/upload_list_cache.h"
#include "upload/upload_list_file.h"
#include "upload/upload_thread.h"

namespace {

bool Finished(const UploadTask& t) {
    return t.state == TaskState::Uploaded || t.state == TaskState::Cancelled;
}

} // namespace

UploadSession::UploadSession(IUploadView& view) : UploadSession(view, Options{}) {}

UploadSession::UploadSession(IUploadView& view, Options options)
    : m_view(view), m_options(options), m_changed(platform::EventHandle::Create()) {}

UploadSession::~UploadSession() {
    // Joined without a bound: every wait of a worker ends on its stop, name lookups
    // included, so this is quick.
    m_worker.reset();
    m_stopping.clear();
}

uint64_t UploadSession::KeyOf(const std::u16string& fullPath) {
    return std::hash<std::u16string>{}(ListPathKey(fullPath));
}

TaskRef UploadSession::FindLocked(const std::u16string& fullPath) const {
    auto [from, to] = m_index.equal_range(KeyOf(fullPath));
    for (auto it = from; it != to; ++it)
        if (SameListKey(it->second->info.m_strFilePath, fullPath))
            return it->second;
    return nullptr;
}

void UploadSession::IndexLocked(const TaskRef& task) {
    m_index.emplace(KeyOf(task->info.m_strFilePath), task);
}

void UploadSession::UnindexLocked(const UploadTask& task) {
    auto [from, to] = m_index.equal_range(KeyOf(task.info.m_strFilePath));
    for (auto it = from; it != to; ++it) {
        if (it->second.get() == &task) {
            m_index.erase(it);
            return;
        }
    }
}

void UploadSession::UncountLocked(UploadTask& task) {
    if (task.counted) {
        task.counted = false;
        --m_pending;
    }
}

void UploadSession::NotifyChanged() {
    m_changed.Set();
}

UploadSession::Known UploadSession::Lookup(const std::u16string& fullPath) const {
    Guard g(m_lock);
    const TaskRef t = FindLocked(fullPath);
    if (!t)
        return Known::None;
    return t->state == TaskState::Uploaded ? Known::Uploaded : Known::Queued;
}

TaskRef UploadSession::MakeTask(UpInfo info) {
    // The record's second copy of the full path is read by nothing: a session of a whole
    // photo library keeps the path once.
    if (info.m_strFilePath2 == info.m_strFilePath)
        std::u16string().swap(info.m_strFilePath2);
    return std::make_shared<UploadTask>(std::move(info));
}

bool UploadSession::Add(std::vector<UpInfo> tasks, bool save) {
    std::vector<TaskRef> refs;
    refs.reserve(tasks.size());
    for (UpInfo& info : tasks)
        refs.push_back(MakeTask(std::move(info)));
    tasks.clear();
    tasks.shrink_to_fit();
    return Add(std::move(refs), save);
}

bool UploadSession::Add(std::vector<TaskRef> tasks, bool save) {
    if (tasks.empty())
        return true;
    // Saved before the worker can see them: it never works on a task whose element is
    // still being written.
    bool saved = true;
    if (save) {
        saved = AddUploadTaskLists(tasks.size(),
                                   [&](std::size_t i) -> const UpInfo& { return tasks[i]->info; });
        if (!saved)
            LogError(u"Failed to save %d upload tasks.", static_cast<int>(tasks.size()));
    }
    {
        Guard g(m_lock);
        for (TaskRef& task : tasks) {
            UpInfo& info = task->info;
            UploadStats().Queued(info.m_strFilePath, static_cast<uint64_t>(info.m_nFileLen));
            // A task handed in paused stays so until resumed.
            const bool paused = info.m_nStatus == 5;
            task->state = paused ? TaskState::Paused : TaskState::Waiting;
            info.m_nStatus = paused ? 5 : 0;
            IndexLocked(task);
            ++m_pending;
            m_waiting.push_back(std::move(task));
        }
    }
    NotifyChanged();
    EnsureWorker();
    return saved;
}

bool UploadSession::ReadSaved(std::vector<UpInfo>& tasks, std::u16string& setAside) {
    tasks.clear();
    setAside.clear();
    platform::FileAttributes attrs;
    const std::u16string& path = CGlobalVar::m_strUploadListPath;
    if (path.empty() || !platform::GetFileAttributesEx(path, attrs))
        return false;
    if (!ReadUploadTaskList(tasks)) {
        setAside = TakeSetAsideUploadList();
        return false;
    }
    for (UpInfo& t : tasks)
        t.m_bListed = 1;
    return true;
}

bool UploadSession::PauseLocked(UploadTask& t) {
    if (t.gone || Finished(t) || t.state == TaskState::Paused || t.state == TaskState::Failed)
        return false;
    if (t.busy) {
        // The attempt stops at its next wait or chunk and ends paused; a resume before it
        // ends takes the pause back.
        t.pauseWanted = true;
        t.control = 2;
        t.abort->Set();
        return true;
    }
    t.state = TaskState::Paused;
    t.info.m_nStatus = 5;
    UploadStats().Ended(t.info.m_strFilePath, TransferStats::End::Paused);
    return true;
}

bool UploadSession::ResumeLocked(UploadTask& t) {
    if (t.gone || Finished(t))
        return false;
    if (t.busy) {
        // The pause has not ended the attempt yet: it goes on, or, if it already stopped,
        // is tried again at once.
        t.pauseWanted = false;
        int pause = 2;
        if (t.control.compare_exchange_strong(pause, 0))
            t.abort->Reset();
        return true;
    }
    if (t.state != TaskState::Paused && t.state != TaskState::Failed)
        return false;
    t.state = TaskState::Again;
    t.reason = TaskReason::None;
    t.info.m_nStatus = 2;
    UploadStats().Queued(t.info.m_strFilePath, static_cast<uint64_t>(t.info.m_nFileLen));
    return true;
}

bool UploadSession::Pause(const std::u16string& fullPath) {
    Guard g(m_lock);
    const TaskRef t = FindLocked(fullPath);
    return t && PauseLocked(*t);
}

bool UploadSession::Resume(const std::u16string& fullPath) {
    bool resumed = false;
    {
        Guard g(m_lock);
        const TaskRef t = FindLocked(fullPath);
        resumed = t && ResumeLocked(*t);
    }
    if (resumed) {
        NotifyChanged();
        EnsureWorker();
    }
    return resumed;
}

bool UploadSession::Cancel(const std::u16string& fullPath) {
    bool found = false;
    {
        Guard g(m_lock);
        if (const TaskRef t = FindLocked(fullPath)) {
            found = true;
            const bool wasUploaded = t->state == TaskState::Uploaded;
            t->gone = true;
            UnindexLocked(*t);
            UncountLocked(*t);
            if (t->busy) {
                // Stops before its next byte; the attempt's end then counts nowhere.
                t->control = 1;
                t->abort->Set();
            } else {
                std::erase(m_waiting, t);
            }
            if (!wasUploaded) {
                t->state = TaskState::Cancelled;
                UploadStats().Ended(fullPath, TransferStats::End::Removed);
            }
        }
    }
    if (found)
        NotifyChanged();
    DeleteUploadTaskList(fullPath);
    return found;
}

int UploadSession::PauseAll() {
    int paused = 0;
    {
        Guard g(m_lock);
        for (auto* tasks : {&m_waiting, &m_active})
            for (const TaskRef& t : *tasks)
                paused += PauseLocked(*t) ? 1 : 0;
    }
    UploadStats().PauseAll();
    NotifyChanged();
    return paused;
}

int UploadSession::ResumeAll() {
    int resumed = 0;
    {
        Guard g(m_lock);
        for (auto* tasks : {&m_waiting, &m_active})
            for (const TaskRef& t : *tasks)
                resumed += ResumeLocked(*t) ? 1 : 0;
    }
    if (resumed > 0) {
        NotifyChanged();
        EnsureWorker();
    }
    return resumed;
}

int UploadSession::RetryFailed(std::vector<std::u16string>* failed) {
    int retried = 0;
    {
        Guard g(m_lock);
        for (auto* tasks : {&m_waiting, &m_active}) {
            for (const TaskRef& t : *tasks) {
                if (t->gone)
                    continue;
                if (t->state == TaskState::Again) {
                    ++retried; // the wake ends the worker's pause between failed passes
                    UploadStats().Queued(t->info.m_strFilePath,
                                         static_cast<uint64_t>(t->info.m_nFileLen));
                } else if (t->state == TaskState::Failed && ResumeLocked(*t)) {
                    ++retried;
                    if (failed != nullptr)
                        failed->push_back(t->info.m_strFilePath);
                }
            }
        }
    }
    if (retried > 0) {
        NotifyChanged();
        EnsureWorker();
    }
    return retried;
}

std::vector<std::u16string> UploadSession::ClearFinished() {
    std::vector<std::u16string> paths;
    {
        Guard g(m_lock);
        for (auto it = m_index.begin(); it != m_index.end();) {
            if (it->second->state == TaskState::Uploaded) {
                it->second->gone = true;
                paths.push_back(it->second->info.m_strFilePath);
                it = m_index.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (!paths.empty()) {
        // An uploaded task normally has no element left; any that remain go in one write.
        UploadListJournalScope oneWrite;
        for (const std::u16string& p : paths)
            DeleteUploadTaskList(p);
    }
    return paths;
}

void UploadSession::ReapStopping() {
    std::erase_if(m_stopping,
                  [](const std::unique_ptr<CUploadThread>& w) { return !w->IsRunning(); });
}

void UploadSession::Stop() {
    ReapStopping();
    if (m_worker && m_worker->IsRunning() && !m_worker->Stop()) {
        // Still in a call it could not leave at once: kept until it ends. The tasks it works
        // on stay alive through its own references.
        m_stopping.push_back(std::move(m_worker));
    }
    m_worker.reset();
}

void UploadSession::Reset() {
    Stop();
    {
        Guard g(m_lock);
        for (auto* tasks : {&m_waiting, &m_active}) {
            for (const TaskRef& t : *tasks) {
                t->gone = true;
                if (t->busy) {
                    t->control = 1;
                    t->abort->Set();
                }
            }
        }
        for (auto& [key, t] : m_index)
            t->gone = true;
        m_waiting.clear();
        m_active.clear();
        m_index.clear();
        m_pending = 0;
    }
    UploadStats().Reset();
}

void UploadSession::EnsureWorker() {
    if (m_worker && m_worker->IsRunning())
        return;
    {
        Guard g(m_lock);
        if (m_waiting.empty() && m_active.empty())
            return;
    }
    // An ended worker leaves its named stop event signalled: delete it before its successor.
    m_worker.reset();
    ReapStopping();
    m_worker = std::make_unique<CUploadThread>(*this);
    if (!m_worker->Start())
        LogError(u"Failed to start the upload thread.");
}

bool UploadSession::WorkerRunning() const {
    return m_worker && m_worker->IsRunning();
}

int UploadSession::Pending() const {
    Guard g(m_lock);
    return m_pending;
}

TaskState UploadSession::StateOf(const std::u16string& fullPath) const {
    Guard g(m_lock);
    const TaskRef t = FindLocked(fullPath);
    if (!t)
        return TaskState::Cancelled;
    if (t->busy) {
        switch (t->phase.load()) {
        case transfers::Phase::Preparing:
            return TaskState::Preparing;
        case transfers::Phase::WaitingForTransfer:
            return TaskState::WaitingForTransfer;
        case transfers::Phase::Sending:
            return TaskState::Sending;
        case transfers::Phase::Confirming:
            return TaskState::Confirming;
        }
    }
    return t->state;
}

TaskReason UploadSession::ReasonOf(const std::u16string& fullPath) const {
    Guard g(m_lock);
    const TaskRef t = FindLocked(fullPath);
    return t ? t->reason : TaskReason::None;
}

int UploadSession::CommandOf(const std::u16string& fullPath) const {
    Guard g(m_lock);
    const TaskRef t = FindLocked(fullPath);
    if (!t || !t->busy)
        return -1;
    // The attempt may have taken the flag already and be on its way out: the pause still
    // stands until it ends.
    return t->pauseWanted ? 2 : t->control.load();
}

std::vector<TaskRef> UploadSession::Tasks() const {
    Guard g(m_lock);
    std::vector<TaskRef> all(m_active.begin(), m_active.end());
    all.insert(all.end(), m_waiting.begin(), m_waiting.end());
    return all;
}
