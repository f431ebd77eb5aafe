#include "ui/mainframe/ui_thread_call.h"

#include "platform/event.h"

#include <QMetaObject>
#include <QThread>

#include <poll.h>

#include <atomic>
#include <memory>

void PostToUiThread(QObject* context, std::function<void()> work) {
    if (!context || !work) {
        return;
    }
    if (QThread::currentThread() == context->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

bool CallOnUiThreadAndWait(QObject* context, std::function<void()> work) {
    if (!context || !work) {
        return false;
    }
    if (QThread::currentThread() == context->thread()) {
        work();
        return true;
    }
    struct Call {
        platform::EventHandle done = platform::EventHandle::Create();
        std::atomic<bool> abandoned{false};
    };
    auto call = std::make_shared<Call>();
    QMetaObject::invokeMethod(
        context,
        [call, work = std::move(work)]() {
            if (!call->abandoned.load()) {
                work();
            }
            call->done.Set();
        },
        Qt::QueuedConnection);
    while (true) {
        switch (platform::WaitFd(call->done.Fd(), POLLIN, -1)) {
        case platform::WaitResult::Ready:
            return true;
        case platform::WaitResult::Timeout:
            continue;
        case platform::WaitResult::Cancelled:
        case platform::WaitResult::Error:
            call->abandoned.store(true);
            return false;
        }
    }
}
