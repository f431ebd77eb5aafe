#include "ui/main_frame.h"

#include "app/global_var.h"
#include "ui/skin/du_style.h"

#include <QGuiApplication>
#include <QScreen>

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
    if (m_bBound) {
        if (DuStyle* style = DuAppStyle()) {
            style->Unbind(this);
        }
    }
}

bool CMainFrame::Create(const char16_t* title) {
    setWindowTitle(QString::fromStdU16String(title ? title : u""));
    DuStyle* style = DuAppStyle();
    if (!style || !style->Bind(this, u"mainframe")) {
        resize(980, 660);
        return true;
    }
    m_bBound = true;
    if (DuWindow* window = style->Window(this)) {
        window->SetText(title ? title : u"");
        if (DuControl* name = window->Control(u"link_username")) {
            name->SetText(CGlobalVar::m_strNick);
            name->Redraw();
        }
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    return true;
}
