#include "upload/upload_queue.h"

#include <poll.h>

#include <set>

#include "upload/transfer_control.h"
#include "upload/upload_list_cache.h"
#include "upload/upload_list_file.h"

UploadQueue::UploadQueue() : m_changed(platform::EventHandle::Create()) {}

int UploadQueue::Pending() {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    return activeCount + static_cast<int>(waiting.size());
}

void UploadQueue::Enqueue(const UpInfo& task) {
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        waiting.push_back(task);
    }
    NotifyChanged();
}

bool UploadQueue::SetActiveStatus(const std::u16string& fullPath, int status) {
    bool found = false;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        for (UpInfo& t : active) {
            if (SameListKey(t.m_strFilePath, fullPath) && t.m_nStatus != kTaskDone) {
                t.m_nStatus = status;
                found = true;
            }
        }
    }
    if (found)
        NotifyChanged();
    return found;
}

bool UploadQueue::CancelQueued(const std::u16string& fullPath) {
    bool found = false;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        for (auto it = waiting.begin(); it != waiting.end(); ++it) {
            if (SameListKey(it->m_strFilePath, fullPath)) {
                waiting.erase(it);
                found = true;
                break;
            }
        }
        if (!found) {
            for (UpInfo& t : active) {
                if (SameListKey(t.m_strFilePath, fullPath) && t.m_nStatus != kTaskDone) {
                    t.m_nStatus = kTaskDone;
                    --activeCount;
                    found = true;
                    break;
                }
            }
        }
    }
    if (found)
        NotifyChanged();
    return found;
}

void UploadQueue::NotifyChanged() {
    m_changed.Set();
}

void UploadQueue::ClearChanged() {
    m_changed.Reset();
}

platform::WaitResult UploadQueue::WaitForChange(int ms) {
    return platform::WaitFd(m_changed.Fd(), POLLIN, ms);
}

int UploadQueue::PauseAll() {
    int paused = 0;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        for (auto* tasks : {&waiting, &active}) {
            for (UpInfo& t : *tasks) {
                if (t.m_nStatus == kTaskDone || t.m_nStatus == kTaskPaused)
                    continue;
                // A file being sent only gets its pause flag, as a row's pause gives it: its
                // transfer stops and the worker marks it paused once the attempt has ended,
                // so a resume cannot slip in before that and be lost.
                if (!transfers::Command(t.m_strFilePath, 2))
                    t.m_nStatus = kTaskPaused;
                ++paused;
            }
        }
    }
    NotifyChanged();
    return paused;
}

int UploadQueue::ResumeAll() {
    int resumed = 0;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        for (auto* tasks : {&waiting, &active}) {
            for (UpInfo& t : *tasks) {
                if (t.m_nStatus == kTaskPaused) {
                    t.m_nStatus = kTaskRetry;
                    ++resumed;
                }
            }
        }
    }
    NotifyChanged();
    return resumed;
}

int UploadQueue::RetryFailedNow(const std::vector<std::u16string>& failedPaths) {
    std::set<std::u16string> failed;
    for (const std::u16string& p : failedPaths) {
        failed.insert(ListPathKey(p));
    }
    int retried = 0;
    {
        std::lock_guard<std::recursive_mutex> g(m_lock);
        for (auto* tasks : {&waiting, &active}) {
            for (UpInfo& t : *tasks) {
                if (t.m_nStatus == kTaskRetry && tasks == &active) {
                    ++retried;
                    continue;
                }
                if (t.m_nStatus == kTaskPaused && failed.count(ListPathKey(t.m_strFilePath)) > 0) {
                    t.m_nStatus = kTaskRetry;
                    ++retried;
                }
            }
        }
    }
    // The wake ends the worker's pause between failed passes at once.
    NotifyChanged();
    return retried;
}
