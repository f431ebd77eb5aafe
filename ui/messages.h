// Window messages between the program's windows and workers, carried as Qt events whose
// type numbers are the fixed message numbers. Sent messages go through SendAppMessage
// (synchronous, the receiver's result comes back); posted ones through PostAppMessage.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>
#include <string>

namespace ui {

enum AppMessageId : int {
    kMsgLocalDirClick = 1257,     // local folder tree -> main window: preview this folder
    kMsgSkinEvent = 1416,         // toolkit -> bound window: a control event (SkinEvent)
    kMsgUploadProgress = 1525,    // transfer -> main window: wparam percentage, text the path
    kMsgRemoveWaitingTask = 1526, // upload list -> main window: text the full path
    kMsgResumeTask = 1527,        // upload list -> main window: text the full path
    kMsgPauseTask = 1528,         // upload list -> main window: text the full path
    kMsgPauseAllRows = 1529,      // upload worker -> upload list
    kMsgDeleteAllRows = 1530,     // main window -> upload list
};

constexpr QEvent::Type MessageType(int id) {
    return static_cast<QEvent::Type>(id);
}

// A message with two integer parameters and, where the sender hands over a path, the text
// itself: the event owns its copy, so a posted message's text is released with the event.
class AppMessage : public QEvent {
public:
    explicit AppMessage(int id, std::intptr_t wparam = 0, std::intptr_t lparam = 0,
                        std::u16string text = {})
        : QEvent(MessageType(id)), wparam(wparam), lparam(lparam), text(std::move(text)) {}

    int Id() const { return static_cast<int>(type()); }

    std::intptr_t wparam;
    std::intptr_t lparam;
    std::u16string text;
    std::intptr_t result = 0; // set by the receiver of a sent message
};

// Delivers `message` to `target` at once on the calling thread (which must be the target's)
// and returns the receiver's result; 0 when there is no target.
inline std::intptr_t SendAppMessage(QObject* target, AppMessage& message) {
    if (!target) {
        return 0;
    }
    QCoreApplication::sendEvent(target, &message);
    return message.result;
}

// Queues `message` for `target`'s thread; safe from any thread. Dropped without a target.
inline void PostAppMessage(QObject* target, std::unique_ptr<AppMessage> message) {
    if (target && message) {
        QCoreApplication::postEvent(target, message.release());
    }
}

} // namespace ui
