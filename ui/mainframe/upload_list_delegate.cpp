#include "ui/mainframe/upload_list_delegate.h"

#include "ui/hover_button.h"
#include "ui/mainframe/list_ctrl_ex.h"
#include "ui/mainframe/upload_list_model.h"
#include "ui/rs_header_ctrl.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kButtonSize = 14;
constexpr int kButtonGap = 14;
constexpr int kBarHeight = 10;
constexpr int kBarMargin = 10;
constexpr int kBarTextWidth = 40;
constexpr int kSpeedWidth = 72; // "12.3 MB/s" beside the percentage of a row being sent

const QColor kBarTrack(0xe3, 0xea, 0xf1);
const QColor kBarFill(0x2f, 0x86, 0xd8);
const QColor kBarPaused(0xa9, 0xb8, 0xc6);
const QColor kRowLine(0xec, 0xf0, 0xf4);
const QColor kDoneColor(0x2e, 0x9a, 0x52);
const QColor kSpeedColor(0x7a, 0x8c, 0x9c);

} // namespace

UploadListDelegate::UploadListDelegate(CListCtrlEx* list)
    : QStyledItemDelegate(list), m_pList(list) {
    m_pause.load(BitmapResourcePath(kBitmapPause));
    m_resume.load(BitmapResourcePath(kBitmapResume));
    m_cancel.load(BitmapResourcePath(kBitmapCancel));
}

QSize UploadListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(CListCtrlEx::kRowHeight);
    return size;
}

QRect UploadListDelegate::ButtonRect(const QRect& cell, RowButton button) {
    const int span = 2 * kButtonSize + kButtonGap;
    const int left = cell.left() + (cell.width() - span) / 2;
    const int top = cell.top() + (cell.height() - kButtonSize) / 2;
    const int x = button == RowButton::Cancel ? left + kButtonSize + kButtonGap : left;
    return QRect(x, top, kButtonSize, kButtonSize);
}

QRect UploadListDelegate::BarRect(const QRect& cell) {
    const int width = std::max(cell.width() - 2 * kBarMargin - kBarTextWidth, 10);
    return QRect(cell.left() + kBarMargin, cell.top() + (cell.height() - kBarHeight) / 2, width,
                 kBarHeight);
}

QRect UploadListDelegate::BarTextRect(const QRect& cell) {
    const QRect bar = BarRect(cell);
    return QRect(bar.right() + 1, cell.top(), cell.right() - bar.right(), cell.height());
}

bool UploadListDelegate::Offers(int value, int state, RowButton button) {
    const bool uploaded = value == UploadListModel::kValueUploaded;
    switch (button) {
    case RowButton::Pause:
        return !uploaded && state != 0;
    case RowButton::Resume:
        return !uploaded && state == 0;
    case RowButton::Cancel:
        return true;
    }
    return false;
}

void UploadListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const int column = index.column();
    const int value = index.data(UploadListModel::kValueRole).toInt();
    const int state = index.data(UploadListModel::kStateRole).toInt();
    const QString text = index.data(Qt::DisplayRole).toString();
    QRect cell = option.rect;

    painter->save();
    // The first column's fill reaches 2 pixels further left, over the grid's edge.
    QRect fill = column == 0 ? cell.adjusted(-2, 0, 0, 0) : cell;
    // The selection shows on the file name only.
    const bool selected = (option.state & QStyle::State_Selected) && column == 0;
    painter->fillRect(fill, selected ? option.palette.color(QPalette::Highlight)
                                     : option.palette.color(QPalette::Base));
    painter->setPen(kRowLine);
    painter->drawLine(fill.bottomLeft(), fill.bottomRight());

    if (column == UploadListModel::kColProgress && value >= 1 && value < 100) {
        PaintProgress(painter, cell, value, state, text,
                      index.data(UploadListModel::kSpeedRole).toString());
    } else if (column == UploadListModel::kColOperation) {
        PaintButtons(painter, cell, index.row(), value, state);
    } else {
        const auto align = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
        painter->setFont(option.font);
        const bool done =
            column == UploadListModel::kColProgress && value == UploadListModel::kValueUploaded;
        painter->setPen(done ? kDoneColor : QColor::fromRgb(kListTextColor));
        const QRect textRect = cell.adjusted(6, 0, -6, 0);
        const QString shown =
            QFontMetrics(option.font).elidedText(text, Qt::ElideMiddle, textRect.width());
        painter->drawText(textRect, static_cast<int>(align), shown);
    }
    painter->restore();
}

void UploadListDelegate::PaintProgress(QPainter* painter, const QRect& cell, int value, int state,
                                       const QString& text, const QString& speed) const {
    // A speed takes its room from the bar's end; the percentage keeps its place after it.
    const bool withSpeed =
        !speed.isEmpty() && cell.width() >= kSpeedWidth + kBarTextWidth + 2 * kBarMargin + 40;
    const QRect barCell = withSpeed ? cell.adjusted(0, 0, -kSpeedWidth, 0) : cell;
    const QRect bar = BarRect(barCell);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(kBarTrack);
    painter->drawRoundedRect(QRectF(bar), kBarHeight / 2.0, kBarHeight / 2.0);
    const int filled = bar.width() * std::clamp(value, 0, 100) / 100;
    if (filled > 0) {
        QRectF done(bar.left(), bar.top(), std::max(filled, kBarHeight), bar.height());
        painter->setBrush(state == 0 ? kBarPaused : kBarFill);
        painter->drawRoundedRect(done, kBarHeight / 2.0, kBarHeight / 2.0);
    }
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QColor::fromRgb(kListTextColor));
    painter->drawText(BarTextRect(barCell), Qt::AlignCenter, text);
    if (withSpeed) {
        painter->setPen(kSpeedColor);
        const QRect speedRect(barCell.right() + 1, cell.top(), kSpeedWidth - 6, cell.height());
        painter->drawText(speedRect, Qt::AlignVCenter | Qt::AlignLeft, speed);
    }
}

void UploadListDelegate::PaintButtons(QPainter* painter, const QRect& cell, int row, int value,
                                      int state) const {
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (RowButton button : {RowButton::Pause, RowButton::Resume, RowButton::Cancel}) {
        if (!Offers(value, state, button)) {
            continue;
        }
        const QRect rect = ButtonRect(cell, button);
        if (m_pList && m_pList->HoveredButton(row, button)) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(QColor(0x2f, 0x86, 0xd8, 40));
            painter->drawEllipse(QRectF(rect.adjusted(-4, -4, 4, 4)));
        }
        const QPixmap& pixmap = button == RowButton::Pause    ? m_pause
                                : button == RowButton::Resume ? m_resume
                                                              : m_cancel;
        painter->drawPixmap(rect, pixmap);
    }
}
