#include "ui/show_msg_dlg.h"

#include "ui/skin/du_style.h"

#include <QApplication>
#include <QMetaObject>
#include <QScreen>
#include <QThread>

void CentreWindowOn(QWidget* window, QWidget* owner) {
    QRect area;
    if (owner && owner->isVisible()) {
        area = owner->window()->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        window->move(area.center() - window->rect().center());
    }
}

const std::array<DuEventRow<CShowMsgDlg>, 3> CShowMsgDlg::s_events = {{
    {u"btn_yes", kDuEventClick, &CShowMsgDlg::OnYes},
    {u"btn_no", kDuEventClick, &CShowMsgDlg::OnNo},
    {u"btn_true", kDuEventClick, &CShowMsgDlg::OnTrue},
}};

CShowMsgDlg::CShowMsgDlg(QWidget* owner, std::u16string_view text, int oneButton)
    : QDialog(owner), m_nOneButton(oneButton), m_strText(text), m_pOwner(owner) {
    setWindowTitle(QStringLiteral("消息提示"));
}

CShowMsgDlg::~CShowMsgDlg() {
    if (m_bBound) {
        if (DuStyle* style = DuAppStyle()) {
            style->Unbind(this);
        }
    }
}

bool CShowMsgDlg::OnInitDialog() {
    DuStyle* style = DuAppStyle();
    if (!style || !style->Bind(this, u"showmsg_win")) {
        return false;
    }
    m_bBound = true;
    CentreWindowOn(this, m_pOwner);
    DuWindow* window = style->Window(this);
    if (!window) {
        return false;
    }
    window->SetText(m_strText);
    if (m_nOneButton) {
        if (DuControl* two = window->Control(u"layout_showmsg_cmdbtn")) {
            two->SetVisible(false);
        }
        if (DuControl* one = window->Control(u"layout_showmsg_onebtn")) {
            one->SetVisible(true);
        }
    }
    return true;
}

int CShowMsgDlg::DoModal() {
    m_nResult = 0;
    if (!OnInitDialog()) {
        return 0;
    }
    return exec();
}

bool CShowMsgDlg::event(QEvent* e) {
    if (SkinEvent* skin = AsSkinEvent(e)) {
        DuDispatchEvent<CShowMsgDlg>(this, s_events, *skin);
        return true;
    }
    return QDialog::event(e);
}

void CShowMsgDlg::OnYes(DuControl*, std::intptr_t, std::intptr_t) {
    m_nResult = 1;
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}

void CShowMsgDlg::OnNo(DuControl*, std::intptr_t, std::intptr_t) {
    m_nResult = 0;
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}

void CShowMsgDlg::OnTrue(DuControl*, std::intptr_t, std::intptr_t) {
    m_nResult = 1;
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}

int ShowMessageBox(QWidget* owner, std::u16string_view text, int oneButton) {
    auto run = [owner, text = std::u16string(text), oneButton]() {
        CShowMsgDlg box(owner, text, oneButton);
        box.DoModal();
        return box.m_nResult;
    };
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        return 0;
    }
    if (QThread::currentThread() == app->thread()) {
        return run();
    }
    int result = 0;
    QMetaObject::invokeMethod(
        app, [&result, &run]() { result = run(); }, Qt::BlockingQueuedConnection);
    return result;
}
