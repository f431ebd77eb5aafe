// What one attempt at a file is given, passed explicitly to UploadOneFile: the flag that
// pauses (2) or cancels (1) it, the gate that lets at most N files send their bytes at once,
// the view its progress goes to, where it reports its phase, and its figures.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "upload/transfer_stats.h"

class IUploadView;

namespace transfers {

// Where an attempt stands, for the rows and the session's state.
enum class Phase : uint8_t { Preparing, WaitingForTransfer, Sending, Confirming };

// Limits the transfers that send bytes at the same moment. The limit is read on every entry,
// so a changed setting applies to the next transfer without restarting any.
class TransferGate {
public:
    using LimitFn = int (*)();
    explicit TransferGate(LimitFn limit) : m_limit(limit) {}

    // Waits for a free place. False, without a place, when the thread's stop or the file's
    // own flag ends the wait.
    bool Enter(const std::atomic<int>& control);
    void Leave();

private:
    LimitFn m_limit;
    std::mutex m_lock;
    std::condition_variable m_freed;
    int m_inside = 0;
};

struct TransferContext {
    // 0 run, 1 cancel, 2 pause. Null: the process-wide CGlobalVar::m_nUploadCtrl (a direct
    // call outside the engine).
    std::atomic<int>* control = nullptr;
    TransferGate* gate = nullptr; // null: no limit
    IUploadView* view = nullptr;  // message 1525
    std::atomic<Phase>* phase = nullptr;
    bool track = false; // the figures follow this attempt's bytes
    TransferStats::Handle figures;
};

// The flag an attempt reads.
std::atomic<int>& ControlOf(const TransferContext& ctx);

} // namespace transfers
