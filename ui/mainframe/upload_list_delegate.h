// Draws the cells of the upload list: texts in the list's colour, the progress bar in the
// progress column and the row's buttons in the operation column. Only rows on screen are
// drawn, so the list costs the same with ten or ten thousand rows.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QStyledItemDelegate>

class CListCtrlEx;

enum class RowButton { Pause, Resume, Cancel };

class UploadListDelegate : public QStyledItemDelegate {
public:
    explicit UploadListDelegate(CListCtrlEx* list);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The button's place in an operation cell: the pause and resume buttons share the
    // first place, the cancel button takes the second.
    static QRect ButtonRect(const QRect& cell, RowButton button);
    // The bar inside a progress cell and the place of its percentage text.
    static QRect BarRect(const QRect& cell);
    static QRect BarTextRect(const QRect& cell);
    // Which buttons a row offers for its value and state.
    static bool Offers(int value, int state, RowButton button);

private:
    void PaintProgress(QPainter* painter, const QRect& cell, int value, int state,
                       const QString& text, const QString& speed) const;
    void PaintButtons(QPainter* painter, const QRect& cell, int row, int value, int state) const;

    CListCtrlEx* m_pList;
    QPixmap m_pause;
    QPixmap m_resume;
    QPixmap m_cancel;
};
