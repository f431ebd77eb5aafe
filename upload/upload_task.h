// One upload task as the session owns it: the record the protocol works on, the command flag
// of its attempt, and its one state. Tasks are shared: a worker that still works on one keeps
// it alive after a cancel, a clear or a logout has taken it out of the session.
#pragma once

#include <atomic>
#include <memory>

#include "platform/event.h"
#include "upload/transfer_control.h"
#include "upload/up_info.h"

enum class TaskState : uint8_t {
    Waiting,            // queued, not attempted yet
    Preparing,          // digest, announcement, offset request
    WaitingForTransfer, // announced, waiting for a free transfer
    Sending,
    Confirming,
    Again,    // an attempt failed; tried again after the worker's pause
    Paused,   // by the user, or by a lack of space
    Failed,   // cannot go on until the user acts (see the reason)
    Uploaded, // confirmed by the service, or content it already held
    Cancelled,
};

// Refused: the service gave an answer a retry would not change (a client error, an unknown
// attachment status, a body that is not the API's JSON).
enum class TaskReason : uint8_t { None, Unreadable, NoSpace, Refused };

struct UploadTask {
    explicit UploadTask(UpInfo i) : info(std::move(i)) {}

    // The path fields never change once queued. The upload fields are worked on only by the
    // thread whose attempt holds the task (`busy`).
    UpInfo info;
    // 0 run, 1 cancel, 2 pause: the command to the attempt in progress.
    std::atomic<int> control{0};
    std::atomic<transfers::Phase> phase{transfers::Phase::Preparing};

    // Guarded by the session's lock.
    TaskState state = TaskState::Waiting;
    TaskReason reason = TaskReason::None;
    bool busy = false;        // an attempt works on it
    bool pauseWanted = false; // paused during its attempt: the attempt ends paused
    bool gone = false;        // cancelled, cleared or dropped at logout
    bool counted = true;      // in the session's pending count
    // The abort event of the thread whose attempt holds it (while busy): ends every wait of
    // that attempt.
    platform::EventHandle* abort = nullptr;
};

using TaskRef = std::shared_ptr<UploadTask>;
