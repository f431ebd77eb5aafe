#include "upload/transfer_control.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "app/global_var.h"
#include "platform/event.h"
#include "upload/upload_list_file.h"

namespace transfers {
namespace {

std::mutex g_lock;
std::vector<TransferScope*> g_scopes; // guarded by g_lock
thread_local std::atomic<int>* t_control = nullptr;
thread_local TransferGate* t_gate = nullptr;

// How often a wait for the gate looks at the stop and the file's flag.
constexpr auto kGatePoll = std::chrono::milliseconds(50);

} // namespace

TransferScope::TransferScope(const std::u16string& p) : path(p), m_outer(t_control) {
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_scopes.push_back(this);
    }
    t_control = &flag;
}

TransferScope::~TransferScope() {
    Release();
}

int TransferScope::Release() {
    if (m_registered) {
        // Under the registry lock: a command either lands before this point, and is returned
        // here, or finds the file gone and takes the waiting tasks' way.
        std::lock_guard<std::mutex> g(g_lock);
        g_scopes.erase(std::find(g_scopes.begin(), g_scopes.end(), this));
        m_registered = false;
        t_control = m_outer;
    }
    return flag.exchange(0);
}

std::atomic<int>& Control() {
    return t_control != nullptr ? *t_control : CGlobalVar::m_nUploadCtrl;
}

bool Command(const std::u16string& path, int flag) {
    std::lock_guard<std::mutex> g(g_lock);
    bool found = false;
    for (TransferScope* s : g_scopes) {
        if (SameListKey(s->path, path)) {
            s->flag = flag;
            found = true;
        }
    }
    return found;
}

bool IsBeingSent(const std::u16string& path) {
    std::lock_guard<std::mutex> g(g_lock);
    return std::any_of(g_scopes.begin(), g_scopes.end(),
                       [&](const TransferScope* s) { return SameListKey(s->path, path); });
}

int FlagOf(const std::u16string& path) {
    std::lock_guard<std::mutex> g(g_lock);
    for (const TransferScope* s : g_scopes)
        if (SameListKey(s->path, path))
            return s->flag;
    return -1;
}

void CommandAll(int flag) {
    std::lock_guard<std::mutex> g(g_lock);
    for (TransferScope* s : g_scopes)
        s->flag = flag;
}

bool TransferGate::Enter(const std::atomic<int>& control) {
    std::unique_lock<std::mutex> lk(m_lock);
    while (m_inside >= std::max(1, m_limit())) {
        if (control != 0 || platform::ThreadCancelRequested())
            return false;
        m_freed.wait_for(lk, kGatePoll);
    }
    ++m_inside;
    return true;
}

void TransferGate::Leave() {
    {
        std::lock_guard<std::mutex> g(m_lock);
        --m_inside;
    }
    m_freed.notify_one();
}

TransferGate* CurrentGate() {
    return t_gate;
}

GateScope::GateScope(TransferGate* gate) : m_outer(t_gate) {
    t_gate = gate;
}

GateScope::~GateScope() {
    t_gate = m_outer;
}

} // namespace transfers
