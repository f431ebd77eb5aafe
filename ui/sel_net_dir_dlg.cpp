#include "ui/sel_net_dir_dlg.h"

#include "app/global_var.h"
#include "base/log.h"
#include "serverdir/server_dir_info.h"
#include "ui/server_dir_tree.h"
#include "ui/show_msg_dlg.h"
#include "ui/skin/du_style.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTreeWidgetItemIterator>

const std::array<DuEventRow<CSelNetDirDlg>, 2> CSelNetDirDlg::s_events = {{
    {u"btn_true", kDuEventClick, &CSelNetDirDlg::OnTrue},
    {u"btn_winclose", kDuEventClick, &CSelNetDirDlg::OnClose},
}};

CSelNetDirDlg::CSelNetDirDlg(QWidget* owner) : QDialog(owner), m_pOwner(owner) {
    setWindowTitle(QStringLiteral("选择私人目录"));
}

CSelNetDirDlg::~CSelNetDirDlg() {
    if (m_pTree) {
        m_pTree->viewport()->removeEventFilter(this);
    }
    if (m_bBound) {
        if (DuStyle* style = DuAppStyle()) {
            style->Unbind(this);
        }
    }
}

int CSelNetDirDlg::DoModal() {
    if (!OnInitDialog()) {
        return 0;
    }
    return exec();
}

bool CSelNetDirDlg::OnInitDialog() {
    if (m_bBound) {
        return true; // a second run of the same picker keeps its window and tree
    }
    DuStyle* style = DuAppStyle();
    if (!style || !style->Bind(this, u"SelNetDirDlg_win")) {
        LogError(u"[Qumolan] Failed to bind the window SelNetDirDlg_win.");
        return false;
    }
    m_bBound = true;
    CentreWindowOn(this, m_pOwner);
    CreateTree();
    return true;
}

void CSelNetDirDlg::CreateTree() {
    DuWindow* window = DuAppStyle()->Window(this);
    if (!window) {
        return;
    }
    m_pTree = new CServerDirTree();
    m_pTree->setObjectName(QStringLiteral("treectrl_seldir"));
    m_pTree->setProperty("controlId", kSelNetDirTreeId);
    // A double click chooses the folder; every folder is shown expanded already.
    m_pTree->setExpandsOnDoubleClick(false);
    DuControl* host = window->Control(u"group_treectrl_Addr");
    if (!host || !host->Adopt(m_pTree)) {
        m_pTree->setParent(this);
        m_pTree->hide();
    }
    m_pTree->Reload(ServerDirInfoPath().c_str());
    m_pTree->ExpandAllItems();
    if (!CGlobalVar::m_strNetDirPath.empty()) {
        SelectPath(CGlobalVar::m_strNetDirPath);
    }
    m_pTree->viewport()->installEventFilter(this);
    connect(m_pTree, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { Confirm(item); });
}

void CSelNetDirDlg::SelectPath(const std::u16string& path) {
    const QString wanted = QString::fromStdU16String(path);
    for (QTreeWidgetItemIterator it(m_pTree); *it; ++it) {
        const QString itemPath = QString::fromStdU16String(m_pTree->ItemPath(*it));
        if (itemPath.compare(wanted, Qt::CaseInsensitive) == 0) {
            m_pTree->setCurrentItem(*it);
            m_pTree->scrollToItem(*it);
            return;
        }
    }
}

bool CSelNetDirDlg::event(QEvent* e) {
    if (SkinEvent* skin = AsSkinEvent(e)) {
        DuDispatchEvent<CSelNetDirDlg>(this, s_events, *skin);
        return true;
    }
    return QDialog::event(e);
}

bool CSelNetDirDlg::eventFilter(QObject* watched, QEvent* e) {
    if (m_pTree && watched == m_pTree->viewport() && e->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(e);
        if (mouse->button() == Qt::LeftButton) {
            OnTreeClick(mouse->position().toPoint());
        }
    }
    return QDialog::eventFilter(watched, e);
}

void CSelNetDirDlg::OnTreeClick(const QPoint& viewportPos) {
    m_pTree->setFocus(Qt::MouseFocusReason);
    if (QTreeWidgetItem* item = m_pTree->itemAt(viewportPos)) {
        m_pTree->setCurrentItem(item);
    } else {
        m_pTree->clearSelection();
        m_pTree->setCurrentItem(nullptr);
    }
}

void CSelNetDirDlg::Confirm(QTreeWidgetItem* item) {
    if (!item) {
        ShowMessageBox(nullptr, u"未选择私人目录！", 1);
        if (m_pTree) {
            m_pTree->clearSelection();
            m_pTree->setCurrentItem(nullptr);
        }
        return;
    }
    m_strChosenName = item->text(0).toStdU16String();
    m_nChosenFid = m_pTree->ItemFid(item);
    m_nResult = 1;
    CGlobalVar::m_strNetDirPath = m_pTree->ItemPath(item);
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}

void CSelNetDirDlg::OnTrue(DuControl*, std::intptr_t, std::intptr_t) {
    QTreeWidgetItem* selected = nullptr;
    if (m_pTree && !m_pTree->selectedItems().isEmpty()) {
        selected = m_pTree->selectedItems().front();
    }
    Confirm(selected);
}

void CSelNetDirDlg::OnClose(DuControl*, std::intptr_t, std::intptr_t) {
    m_nResult = 0;
    if (DuStyle* style = DuAppStyle()) {
        style->Close(this);
    }
}
