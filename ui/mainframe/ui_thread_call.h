// Calls from worker threads into the user-interface thread. A posted call runs later on
// the context object's thread and is dropped with the object; a call that waits for its
// answer waits through the worker's stop event, so stopping the worker from the
// user-interface thread can never deadlock on it.
#pragma once

#include <QObject>

#include <functional>

// Runs `work` on `context`'s thread: at once when already there, else queued (in order
// with the events posted to `context`).
void PostToUiThread(QObject* context, std::function<void()> work);

// Runs `work` on `context`'s thread and waits for it to finish. False when the calling
// thread's stop event ended the wait first: `work` is then skipped if it had not started
// yet (if it had, it finishes on its own without anyone waiting).
bool CallOnUiThreadAndWait(QObject* context, std::function<void()> work);
