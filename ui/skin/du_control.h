// A named control of a skinned window. Every control offers the common operations; the
// type-specific ones (adopt, check state, tab selection) do nothing on other kinds.
// Text and visibility may be changed from worker threads: the change is stored at once
// and the drawing happens on the user-interface thread.
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class DuWindow;
struct DuControlDef;

enum class DuKind { Window, Button, CheckButton, TabButton, Text, Image, Host, Group };

class DuControl {
public:
    DuControl(DuWindow* window, DuControl* parent, const DuControlDef* def);
    DuControl(const DuControl&) = delete;
    DuControl& operator=(const DuControl&) = delete;
    ~DuControl();

    const std::u16string& Name() const { return m_strName; }
    DuKind Kind() const { return m_kind; }
    DuWindow* Window() const { return m_pWindow; }
    DuControl* Parent() const { return m_pParent; }

    void SetText(std::u16string_view text);
    std::u16string Text() const;

    // Hiding a group hides everything inside it.
    void SetVisible(bool visible);
    bool IsVisible() const; // its own flag, not its ancestors'

    void SetFocusedLook(bool focused);
    bool HasFocusedLook() const;

    // Draws the control now on the user-interface thread; from another thread it is queued.
    void Redraw();

    // The bound top-level window the control belongs to.
    QWidget* HostWindow() const;

    // The control's rectangle in the window's client coordinates.
    QRect Rect() const;

    // Host area: places `child` over the whole area and keeps it there when the window is
    // resized. The area takes ownership of `child` through Qt's parent chain.
    bool Adopt(QWidget* child);
    QWidget* Adopted() const { return m_adopted; }

    // Check button (also caption check buttons such as maximise).
    bool CheckState() const;
    void SetCheckState(bool checked); // no event; the caller already knows

    // Tab button: selecting one deselects the others of its set, shows its page and sends
    // state-change events (1 to the new tab, 0 to the one that lost the selection).
    bool IsSelected() const;
    void Select();

    // For the toolkit itself, screenshots and tests.
    QWidget* Widget() const { return m_widget; }
    const DuControlDef* Definition() const { return m_pDef; }
    const std::vector<std::unique_ptr<DuControl>>& Children() const { return m_children; }
    std::vector<std::unique_ptr<DuControl>>& MutableChildren() { return m_children; }
    void AttachWidget(QWidget* widget) { m_widget = widget; }
    void SetSelectedQuietly(bool selected);
    bool IsHovered() const;
    bool IsPressed() const;
    void SetHovered(bool hovered);
    void SetPressed(bool pressed);
    void ToggleCheckQuietly();
    void SetFocusedLookQuietly(bool focused);
    void SetName(std::u16string name) { m_strName = std::move(name); }

private:
    DuWindow* m_pWindow;
    DuControl* m_pParent;
    const DuControlDef* m_pDef;
    std::u16string m_strName;
    DuKind m_kind;
    std::vector<std::unique_ptr<DuControl>> m_children;
    QPointer<QWidget> m_widget;
    QPointer<QWidget> m_adopted;

    mutable std::mutex m_lock; // guards the state below (text may come from workers)
    std::u16string m_strText;
    bool m_bVisible = true;
    bool m_bFocused = false;
    bool m_bChecked = false;
    bool m_bHovered = false;
    bool m_bPressed = false;
};
