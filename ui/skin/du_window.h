// The toolkit's object for one bound window: its named controls, the skin focus and the
// window's own pseudo control (named after the skin window, source of the maximise toggle).
#pragma once

#include "ui/skin/du_control.h"

#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <string_view>

class DuStyle;
class DuSurface;
struct DuWindowDef;

class DuWindow {
public:
    DuWindow(DuStyle* style, QWidget* host, const DuWindowDef* def);
    DuWindow(const DuWindow&) = delete;
    DuWindow& operator=(const DuWindow&) = delete;
    ~DuWindow();

    const std::u16string& Name() const;
    DuStyle* Style() const { return m_pStyle; }
    QWidget* HostWindow() const { return m_host; }

    // The named control or null; the window's own name gives its pseudo control.
    DuControl* Control(std::u16string_view name) const;
    DuControl* Control(const char16_t* name) const; // null name gives null

    DuControl* FocusedControl() const { return m_pFocused; }
    void SetFocusedControl(DuControl* control); // moves the focused look

    // The window's text: shown by the control the skin names as the window's text control.
    void SetText(std::u16string_view text);
    std::u16string Text() const;

    // Sends message 1416 for `control` to the host window; returns the window's result.
    std::intptr_t SendEvent(DuControl* control, int code, std::intptr_t p1 = 0,
                            std::intptr_t p2 = 0);

    // For the toolkit: lays every control out for the host's current size.
    void Relayout();
    DuControl* Self() const { return m_self.get(); }
    const DuWindowDef* Definition() const { return m_pDef; }
    DuSurface* Surface() const;
    void ForgetFocus(DuControl* control);

private:
    void Register(DuControl* control);

    DuStyle* m_pStyle;
    QPointer<QWidget> m_host;
    const DuWindowDef* m_pDef;
    QPointer<DuSurface> m_surface;
    std::unique_ptr<DuControl> m_self;
    std::map<std::u16string, DuControl*, std::less<>> m_byName;
    DuControl* m_pFocused = nullptr;
};
