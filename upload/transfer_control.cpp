#include "upload/transfer_control.h"

#include <algorithm>
#include <chrono>

#include "app/global_var.h"
#include "platform/event.h"

namespace transfers {
namespace {

// How often a wait for the gate looks at the stop and the file's flag.
constexpr auto kGatePoll = std::chrono::milliseconds(50);

} // namespace

std::atomic<int>& ControlOf(const TransferContext& ctx) {
    return ctx.control != nullptr ? *ctx.control : CGlobalVar::m_nUploadCtrl;
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

} // namespace transfers
