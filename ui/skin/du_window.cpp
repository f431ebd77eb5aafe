#include "ui/skin/du_window.h"

#include "ui/skin/du_events.h"
#include "ui/skin/du_surface.h"
#include "ui/skin/skin_model.h"

#include <QCoreApplication>

DuWindow::DuWindow(DuStyle* style, QWidget* host, const DuWindowDef* def)
    : m_pStyle(style), m_host(host), m_pDef(def) {
    // The pseudo control standing for the window itself; a group holding every control.
    m_self = std::make_unique<DuControl>(this, nullptr, nullptr);
    m_self->SetName(def->name);
    m_surface = new DuSurface(this, host);
    m_self->AttachWidget(m_surface);

    // Build the controls depth first; each one's widget is a child of its parent's.
    struct Builder {
        DuWindow* window;
        void Build(DuControl* parent, QWidget* parentWidget,
                   const std::vector<DuControlDef>& defs) {
            for (const DuControlDef& def : defs) {
                auto control = std::make_unique<DuControl>(window, parent, &def);
                auto* widget = new DuControlWidget(control.get(), parentWidget);
                control->AttachWidget(widget);
                widget->setVisible(def.visible);
                window->Register(control.get());
                Build(control.get(), widget, def.children);
                parent->MutableChildren().push_back(std::move(control));
            }
        }
    };
    Builder{this}.Build(m_self.get(), m_surface, def->controls);
    // Tabs selected by the skin show their pages; the others' pages start hidden.
    for (auto& [name, control] : m_byName) {
        if (control->Kind() == DuKind::TabButton) {
            control->SetSelectedQuietly(control->Definition()->checked);
        }
    }
    Relayout();
}

DuWindow::~DuWindow() {
    // Widgets first: while they go they may still report leave and hide to their controls.
    // Adopted native widgets go with their areas.
    if (m_surface) {
        delete m_surface.data();
    }
    m_pFocused = nullptr;
    m_byName.clear();
    m_self.reset();
}

const std::u16string& DuWindow::Name() const {
    return m_pDef->name;
}

void DuWindow::Register(DuControl* control) {
    if (!control->Name().empty()) {
        m_byName.emplace(control->Name(), control); // the first of a duplicated name wins
    }
}

DuControl* DuWindow::Control(std::u16string_view name) const {
    if (name == m_pDef->name) {
        return m_self.get();
    }
    auto it = m_byName.find(name);
    return it == m_byName.end() ? nullptr : it->second;
}

DuControl* DuWindow::Control(const char16_t* name) const {
    return name ? Control(std::u16string_view(name)) : nullptr;
}

void DuWindow::SetFocusedControl(DuControl* control) {
    if (m_pFocused == control) {
        if (control) {
            control->SetFocusedLookQuietly(true);
        }
        return;
    }
    if (m_pFocused) {
        m_pFocused->SetFocusedLookQuietly(false);
    }
    m_pFocused = control;
    if (control) {
        control->SetFocusedLookQuietly(true);
    }
}

void DuWindow::ForgetFocus(DuControl* control) {
    if (m_pFocused == control) {
        m_pFocused = nullptr;
    }
}

void DuWindow::SetText(std::u16string_view text) {
    if (DuControl* c = Control(m_pDef->textControl)) {
        c->SetText(text);
        c->Redraw();
    }
    m_self->SetText(text);
}

std::u16string DuWindow::Text() const {
    return m_self->Text();
}

std::intptr_t DuWindow::SendEvent(DuControl* control, int code, std::intptr_t p1,
                                  std::intptr_t p2) {
    if (!m_host || !control) {
        return 0;
    }
    SkinEvent event(control, DuEventRecord{code, p1, p2});
    QCoreApplication::sendEvent(m_host.data(), &event);
    return event.result;
}

void DuWindow::Relayout() {
    if (m_surface && m_host) {
        m_surface->setGeometry(m_host->rect());
        m_surface->LayoutControls();
    }
}

DuSurface* DuWindow::Surface() const {
    return m_surface.data();
}
