#include "ui/skin/du_control.h"

#include "ui/skin/du_events.h"
#include "ui/skin/du_surface.h"
#include "ui/skin/du_window.h"
#include "ui/skin/skin_model.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace {

bool OnUiThread(const QWidget* widget) {
    return widget && QThread::currentThread() == widget->thread();
}

// Runs `work` with the widget on its own thread: at once there, queued from any other.
template <class F> void OnWidgetThread(QWidget* widget, F work) {
    if (!widget) {
        return;
    }
    if (OnUiThread(widget)) {
        work(widget);
    } else {
        QPointer<QWidget> guard(widget);
        QMetaObject::invokeMethod(
            widget,
            [guard, work]() {
                if (guard) {
                    work(guard.data());
                }
            },
            Qt::QueuedConnection);
    }
}

} // namespace

std::u16string_view DuEventControlName(const DuControl* control) {
    return control ? std::u16string_view(control->Name()) : std::u16string_view();
}

DuControl::DuControl(DuWindow* window, DuControl* parent, const DuControlDef* def)
    : m_pWindow(window), m_pParent(parent), m_pDef(def), m_kind(def ? def->kind : DuKind::Window) {
    if (def) {
        m_strName = def->name;
        m_strText = def->look.text;
        m_bVisible = def->visible;
        m_bChecked = def->checked;
    }
}

DuControl::~DuControl() {
    if (m_pWindow) {
        m_pWindow->ForgetFocus(this);
    }
}

void DuControl::SetText(std::u16string_view text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_strText.assign(text);
}

std::u16string DuControl::Text() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_strText;
}

void DuControl::SetVisible(bool visible) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bVisible = visible;
    }
    OnWidgetThread(m_widget.data(), [visible](QWidget* w) { w->setVisible(visible); });
}

bool DuControl::IsVisible() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bVisible;
}

void DuControl::SetFocusedLook(bool focused) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bFocused = focused;
    }
    if (m_pWindow) {
        if (focused) {
            m_pWindow->SetFocusedControl(this);
        } else if (m_pWindow->FocusedControl() == this) {
            m_pWindow->SetFocusedControl(nullptr);
        }
    }
}

void DuControl::SetFocusedLookQuietly(bool focused) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bFocused = focused;
    }
    OnWidgetThread(m_widget.data(), [](QWidget* w) { w->update(); });
}

bool DuControl::HasFocusedLook() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bFocused;
}

void DuControl::Redraw() {
    OnWidgetThread(m_widget.data(), [](QWidget* w) {
        if (w->isVisible()) {
            w->repaint();
        } else {
            w->update();
        }
    });
}

QWidget* DuControl::HostWindow() const {
    return m_pWindow ? m_pWindow->HostWindow() : nullptr;
}

QRect DuControl::Rect() const {
    QWidget* host = HostWindow();
    if (!m_widget || !host) {
        return host ? host->rect() : QRect();
    }
    const QPoint topLeft = m_widget->mapTo(host, QPoint(0, 0));
    return QRect(topLeft, m_widget->size());
}

bool DuControl::Adopt(QWidget* child) {
    if (m_kind != DuKind::Host || !child || !m_widget) {
        return false;
    }
    if (m_adopted && m_adopted != child) {
        m_adopted->hide();
    }
    m_adopted = child;
    child->setParent(m_widget);
    const int inset = m_pDef && m_pDef->look.border.isValid() ? 1 : 0;
    child->setGeometry(m_widget->rect().adjusted(inset, inset, -inset, -inset));
    child->show();
    return true;
}

bool DuControl::CheckState() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_kind == DuKind::CheckButton && m_bChecked;
}

void DuControl::SetCheckState(bool checked) {
    if (m_kind != DuKind::CheckButton) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_bChecked = checked;
}

void DuControl::ToggleCheckQuietly() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bChecked = !m_bChecked;
}

bool DuControl::IsSelected() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_kind == DuKind::TabButton && m_bChecked;
}

void DuControl::SetSelectedQuietly(bool selected) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bChecked = selected;
    }
    // The page of a tab is visible exactly while the tab is selected.
    if (m_pWindow && m_pDef && !m_pDef->page.empty()) {
        if (DuControl* page = m_pWindow->Control(m_pDef->page)) {
            page->SetVisible(selected);
        }
    }
    if (m_widget) {
        m_widget->update();
    }
}

void DuControl::Select() {
    if (m_kind != DuKind::TabButton || IsSelected() || !m_pWindow) {
        return;
    }
    // The other tabs of the same set, found among the siblings.
    DuControl* previous = nullptr;
    const auto* siblings = m_pParent ? &m_pParent->Children() : nullptr;
    if (siblings) {
        for (const auto& s : *siblings) {
            if (s.get() != this && s->Kind() == DuKind::TabButton && s->IsSelected() &&
                s->Definition() && m_pDef && s->Definition()->tabGroup == m_pDef->tabGroup) {
                s->SetSelectedQuietly(false);
                previous = s.get();
            }
        }
    }
    SetSelectedQuietly(true);
    DuWindow* window = m_pWindow;
    if (previous) {
        window->SendEvent(previous, kDuEventStateChange, 0);
    }
    window->SendEvent(this, kDuEventStateChange, 1);
}

bool DuControl::IsHovered() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bHovered;
}

bool DuControl::IsPressed() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bPressed;
}

void DuControl::SetHovered(bool hovered) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bHovered = hovered;
}

void DuControl::SetPressed(bool pressed) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_bPressed = pressed;
}
