#include "upload/upload_queue.h"

#include <poll.h>

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
