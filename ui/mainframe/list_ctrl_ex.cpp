#include "ui/mainframe/list_ctrl_ex.h"

#include "app/global_var.h"
#include "ui/messages.h"
#include "ui/rs_header_ctrl.h"
#include "ui/show_msg_dlg.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>
#include <functional>

namespace {

constexpr int kColumnWidths[UploadListModel::kColumnCount] = {150, 130, 200, 90, 70, 0, 0};

} // namespace

CListCtrlEx::CListCtrlEx(QWidget* parent)
    : QTableView(parent), m_pModel(new UploadListModel(this)),
      m_pDelegate(new UploadListDelegate(this)) {
    setModel(m_pModel);
    setItemDelegate(m_pDelegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setMouseTracking(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
}

void CListCtrlEx::CreateColumns() {
    // The header is taken over by the skinned one before the columns are laid out.
    m_pHeader = new CRSHeaderCtrl(this);
    setHorizontalHeader(m_pHeader);
    m_pHeader->LoadSkin();
    m_pHeader->setSectionResizeMode(QHeaderView::Interactive);
    m_pHeader->setStretchLastSection(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(kRowHeight);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    for (int c = 0; c < UploadListModel::kColumnCount; ++c) {
        setColumnWidth(c, kColumnWidths[c]);
        setColumnHidden(c, kColumnWidths[c] == 0);
    }
    QPalette pal = palette();
    pal.setColor(QPalette::Text, QColor::fromRgb(kListTextColor));
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Highlight, QColor(0xdc, 0xea, 0xf7));
    pal.setColor(QPalette::HighlightedText, QColor::fromRgb(kListTextColor));
    setPalette(pal);
}

void CListCtrlEx::AddTaskRows(std::span<const TaskRef> tasks) {
    m_pModel->AppendTasks(tasks);
}

void CListCtrlEx::AddTaskRows(std::span<const UpInfo> tasks) {
    m_pModel->AppendTasks(tasks);
}

int CListCtrlEx::GetItemData(int row) const {
    return m_pModel->Valid(row) ? m_pModel->At(row).value : 0;
}

std::u16string CListCtrlEx::GetItemText(int row, int column) const {
    if (!m_pModel->Valid(row) || column < 0 || column >= UploadListModel::kColumnCount) {
        return {};
    }
    return m_pModel->Text(row, column);
}

int CListCtrlEx::RowState(int row) const {
    return m_pModel->Valid(row) ? m_pModel->At(row).state : 0;
}

std::u16string CListCtrlEx::ReadPathForMessage(int row) {
    std::lock_guard<std::mutex> lock(m_listLock);
    return GetItemText(row, UploadListModel::kColFullPath);
}

void CListCtrlEx::Notify(int message, const std::u16string& path) {
    ui::AppMessage msg(message, 0, 0, path);
    ui::SendAppMessage(m_notify.data(), msg);
}

void CListCtrlEx::OnPauseButton(int row) {
    if (!m_pModel->Valid(row)) {
        return;
    }
    const int value = GetItemData(row);
    if (value == UploadListModel::kValueUploaded) {
        return;
    }
    if (ShowMessageBox(window(), u"确定要暂停此文件的上传吗？", 0) != 1 || !m_pModel->Valid(row)) {
        return;
    }
    m_pModel->SetState(row, 0);
    if (value >= 0 && value <= 100) {
        Notify(ui::kMsgPauseTask, ReadPathForMessage(row));
    }
}

void CListCtrlEx::OnResumeButton(int row) {
    if (!m_pModel->Valid(row) || GetItemData(row) == UploadListModel::kValueUploaded) {
        return;
    }
    m_pModel->SetState(row, 1);
    Notify(ui::kMsgResumeTask, ReadPathForMessage(row));
}

void CListCtrlEx::DeleteRow(int row) {
    std::lock_guard<std::mutex> lock(m_listLock);
    m_pModel->RemoveRow(row);
}

void CListCtrlEx::OnCancelButton(int row) {
    if (!m_pModel->Valid(row) || m_bDeletionHeld) {
        return;
    }
    const std::u16string path = ReadPathForMessage(row);
    if (GetItemData(row) != UploadListModel::kValueUploaded) {
        if (ShowMessageBox(window(), u"确定要取消此文件的上传吗？", 0) != 1) {
            return;
        }
        // The box ran an event loop: find the row again by its path.
        row = m_pModel->FirstRowWithPath(path);
        if (row < 0 || m_bDeletionHeld) {
            return;
        }
    }
    DeleteRow(row);
    // The main window's session drops the task at whatever step it is (an attempt stops
    // before its next byte) and the list file's element with it.
    Notify(ui::kMsgRemoveWaitingTask, path);
    SetHovered({});
}

void CListCtrlEx::DeleteRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    std::lock_guard<std::mutex> lock(m_listLock);
    m_pModel->RemoveRows(rows);
    m_pressed = {};
    m_hovered = {};
}

void CListCtrlEx::contextMenuEvent(QContextMenuEvent* e) {
    if (m_menuHandler) {
        m_menuHandler(e->globalPos());
        e->accept();
        return;
    }
    QTableView::contextMenuEvent(e);
}

void CListCtrlEx::PauseAllRows() {
    m_pModel->SetAllStates(0);
}

void CListCtrlEx::DeleteAllRows() {
    std::lock_guard<std::mutex> lock(m_listLock);
    m_pModel->Clear();
    m_pressed = {};
    m_hovered = {};
}

bool CListCtrlEx::event(QEvent* e) {
    if (e->type() == ui::MessageType(ui::kMsgPauseAllRows)) {
        PauseAllRows();
        return true;
    }
    if (e->type() == ui::MessageType(ui::kMsgDeleteAllRows)) {
        DeleteAllRows();
        return true;
    }
    return QTableView::event(e);
}

QRect CListCtrlEx::ProgressCellRect(int row) const {
    return visualRect(m_pModel->index(row, m_nProgressColumn));
}

QRect CListCtrlEx::ButtonRect(int row, RowButton button) const {
    if (!m_pModel->Valid(row)) {
        return {};
    }
    const UploadListModel::Row& r = m_pModel->At(row);
    if (!UploadListDelegate::Offers(r.value, r.state, button)) {
        return {};
    }
    const QRect cell = visualRect(m_pModel->index(row, m_nOperationColumn));
    return cell.isValid() ? UploadListDelegate::ButtonRect(cell, button) : QRect();
}

CListCtrlEx::ButtonHit CListCtrlEx::HitButton(const QPoint& pos) const {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid() || index.column() != m_nOperationColumn) {
        return {};
    }
    for (RowButton button : {RowButton::Pause, RowButton::Resume, RowButton::Cancel}) {
        // A few pixels of slack around the small pictures.
        if (ButtonRect(index.row(), button).adjusted(-3, -3, 3, 3).contains(pos)) {
            return {index.row(), button};
        }
    }
    return {};
}

bool CListCtrlEx::HoveredButton(int row, RowButton button) const {
    return m_hovered.row == row && m_hovered.button == button;
}

void CListCtrlEx::SetHovered(ButtonHit hit) {
    if (hit == m_hovered) {
        return;
    }
    const ButtonHit old = m_hovered;
    m_hovered = hit;
    viewport()->setCursor(hit.Valid() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    for (const ButtonHit& h : {old, hit}) {
        if (h.Valid()) {
            update(m_pModel->index(h.row, m_nOperationColumn));
        }
    }
}

void CListCtrlEx::mousePressEvent(QMouseEvent* e) {
    m_pressed = e->button() == Qt::LeftButton ? HitButton(e->position().toPoint()) : ButtonHit{};
    QTableView::mousePressEvent(e);
}

void CListCtrlEx::mouseReleaseEvent(QMouseEvent* e) {
    const ButtonHit pressed = m_pressed;
    m_pressed = {};
    QTableView::mouseReleaseEvent(e);
    if (!pressed.Valid() || e->button() != Qt::LeftButton ||
        !(HitButton(e->position().toPoint()) == pressed)) {
        return;
    }
    switch (pressed.button) {
    case RowButton::Pause:
        OnPauseButton(pressed.row);
        break;
    case RowButton::Resume:
        OnResumeButton(pressed.row);
        break;
    case RowButton::Cancel:
        OnCancelButton(pressed.row);
        break;
    }
}

void CListCtrlEx::mouseMoveEvent(QMouseEvent* e) {
    SetHovered(HitButton(e->position().toPoint()));
    QTableView::mouseMoveEvent(e);
}

void CListCtrlEx::leaveEvent(QEvent* e) {
    SetHovered({});
    QTableView::leaveEvent(e);
}
