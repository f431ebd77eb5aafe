// Control events of skinned windows: the toolkit sends message 1416 (a SkinEvent) to the
// bound window; the window looks the event up in its own table of
// {control name, event code, handler} rows and the first matching row handles it.
#pragma once

#include "ui/messages.h"

#include <QEvent>

#include <cstdint>
#include <span>
#include <string_view>

class DuControl;

// Event codes.
inline constexpr int kDuEventClick = 0xF06;
inline constexpr int kDuEventStateChange = 1;        // check or tab button; p1 the new state (1/0)
inline constexpr int kDuEventMaximizeToggle = 0xF10; // on the window's own name

struct DuEventRecord {
    int code = 0;
    std::intptr_t p1 = 0;
    std::intptr_t p2 = 0;
};

class SkinEvent : public QEvent {
public:
    SkinEvent(DuControl* control, DuEventRecord record)
        : QEvent(ui::MessageType(ui::kMsgSkinEvent)), control(control), record(record) {}

    DuControl* control; // the control the event comes from (never null when sent)
    DuEventRecord record;
    std::intptr_t result = 0;
};

// One row of a window's event table; `handler` is a member of the window class.
template <class Window> struct DuEventRow {
    const char16_t* name;
    int code;
    void (Window::*handler)(DuControl* control, std::intptr_t p1, std::intptr_t p2);
};

// The name of the control an event comes from ("" for none); defined with the controls.
std::u16string_view DuEventControlName(const DuControl* control);

// Calls the first row whose name (exact, case-sensitive) and code match. True when a row
// handled it. The message's result is 0 either way.
template <class Window>
bool DuDispatchEvent(Window* self, std::span<const DuEventRow<Window>> rows, SkinEvent& event) {
    event.result = 0;
    const std::u16string_view name = DuEventControlName(event.control);
    for (const DuEventRow<Window>& row : rows) {
        if (row.code == event.record.code && row.name && name == row.name) {
            (self->*row.handler)(event.control, event.record.p1, event.record.p2);
            return true;
        }
    }
    return false;
}

// For windows that receive events in QObject::event / customEvent: the SkinEvent or null.
inline SkinEvent* AsSkinEvent(QEvent* event) {
    if (event && event->type() == ui::MessageType(ui::kMsgSkinEvent)) {
        return static_cast<SkinEvent*>(event);
    }
    return nullptr;
}
