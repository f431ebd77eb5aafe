// The files the engine is working on, each with its own pause/cancel flag, and the gate that
// lets at most N of them send their bytes at once.
//
// A file is "being sent" from the moment a transfer takes it (digest and announcement
// included) until its attempt ends. The window's pause (2) or cancel (1) of such a file sets
// that file's flag only, so several transfers never take each other's commands. A flag set
// after the attempt ended is read by the engine when it lets the file go (`TransferScope::
// Release`) and applied to the file's task then.
//
// Code that uploads a file without a scope (a direct UploadOneFile) reads the process-wide
// CGlobalVar::m_nUploadCtrl as before.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

namespace transfers {

// Registers the file this thread works on for the scope's lifetime; UploadOneFile on this
// thread reads its flag.
class TransferScope {
public:
    explicit TransferScope(const std::u16string& path);
    ~TransferScope();
    TransferScope(const TransferScope&) = delete;
    TransferScope& operator=(const TransferScope&) = delete;

    // Ends the registration early: a command from now on no longer reaches this file. Returns
    // the flag left set (0: none), which the caller applies to the file's task.
    int Release();

    std::atomic<int> flag{0};
    const std::u16string path;

private:
    bool m_registered = true;
    std::atomic<int>* m_outer;
};

// The flag UploadOneFile reads and clears on this thread.
std::atomic<int>& Control();

// The window's pause or cancel of the file with this path (compared as list keys): sets the
// flag of the file being worked on and returns true; false when no transfer holds it.
bool Command(const std::u16string& path, int flag);
bool IsBeingSent(const std::u16string& path);
// The flag of the file being worked on with this path; -1 when no transfer holds it.
int FlagOf(const std::u16string& path);
// Sets `flag` on every file being worked on (lack of space pauses them all).
void CommandAll(int flag);

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

// The gate UploadOneFile passes before its POST on this thread (none: no limit).
TransferGate* CurrentGate();
class GateScope {
public:
    explicit GateScope(TransferGate* gate);
    ~GateScope();

private:
    TransferGate* m_outer;
};

} // namespace transfers
