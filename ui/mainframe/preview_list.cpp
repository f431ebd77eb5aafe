#include "ui/mainframe/preview_list.h"

#include "media/preview_grid.h"

#include <QPainter>
#include <algorithm>

namespace {

constexpr int kImageRole = Qt::UserRole;

// The record a server item owns; freed with the item or by FreeItemRecords.
class PreviewItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    std::unique_ptr<UpInfo> record;
};

PreviewItem* AsPreviewItem(QListWidgetItem* item) {
    return item && item->type() == QListWidgetItem::UserType ? static_cast<PreviewItem*>(item)
                                                             : nullptr;
}

} // namespace

CPreviewList::CPreviewList(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("listview_preview_dir"));
    setViewMode(QListView::IconMode);
    // A fixed grid of the workers' cell size: the list places each item in the cell the
    // workers compute for it, and keeps doing so when rows are inserted later (positions
    // set one by one would be lost at the next layout pass).
    setMovement(QListView::Static);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setGridSize(QSize(kCellWidth, kCellHeight));
    setSpacing(0);
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(false);
    setResizeMode(QListView::Adjust);
    setIconSize(QSize(kThumbWidth, kThumbHeight));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setTextElideMode(Qt::ElideMiddle);
    setWordWrap(false);
    setUniformItemSizes(true);
    setMouseTracking(true);
    setStyleSheet(QStringLiteral(
        "QListWidget { background: #ffffff; color: rgb(61, 88, 109); outline: 0; }"
        "QListWidget::item { border: 1px solid transparent; border-radius: 3px; padding: 3px; }"
        "QListWidget::item:hover { background: #eef5fc; border-color: #cfe2f5; }"
        "QListWidget::item:selected { background: #dcebfa; border-color: #8fbde8;"
        " color: rgb(61, 88, 109); }"));
    m_blank = QPixmap(kThumbWidth, kThumbHeight);
    m_blank.fill(Qt::white);
}

void CPreviewList::SetImageCount(int count) {
    if (count < 0) {
        count = 0;
    }
    m_images.resize(static_cast<std::size_t>(count), m_blank);
}

void CPreviewList::ReplaceImage(int index, const QImage& image) {
    if (index < 0 || index >= ImageCount()) {
        return;
    }
    QPixmap pixmap = image.isNull() ? m_blank : QPixmap::fromImage(image);
    if (pixmap.size() != QSize(kThumbWidth, kThumbHeight)) {
        // Centre whatever came on a white cell of the list's size.
        QPixmap cell = m_blank;
        QPainter p(&cell);
        const QPixmap scaled =
            pixmap.scaled(kThumbWidth, kThumbHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        p.drawPixmap((kThumbWidth - scaled.width()) / 2, (kThumbHeight - scaled.height()) / 2,
                     scaled);
        pixmap = cell;
    }
    m_images[static_cast<std::size_t>(index)] = pixmap;
    // The workers give item i image i; an item already showing this image follows.
    if (QListWidgetItem* it = item(index); it && it->data(kImageRole).toInt() == index) {
        it->setIcon(QIcon(pixmap));
    }
}

void CPreviewList::RemoveAllImages() {
    m_images.clear();
}

void CPreviewList::ApplyImage(QListWidgetItem* item, int image) {
    item->setData(kImageRole, image);
    if (image >= 0 && image < ImageCount()) {
        item->setIcon(QIcon(m_images[static_cast<std::size_t>(image)]));
    } else {
        item->setIcon(QIcon(m_blank));
    }
}

void CPreviewList::InsertPreviewItem(int index, const std::u16string& text, int image) {
    auto* it = new PreviewItem(QString::fromStdU16String(text), nullptr, QListWidgetItem::UserType);
    it->setToolTip(it->text());
    it->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    ApplyImage(it, image);
    insertItem(std::clamp(index, 0, count()), it);
}

void CPreviewList::AttachRecord(int index, const UpInfo& record) {
    if (PreviewItem* it = AsPreviewItem(item(index))) {
        it->record = std::make_unique<UpInfo>(record);
    }
}

void CPreviewList::SetItemPosition(int /*index*/, QPoint /*pos*/) {
    // The grid already puts item i in cell i; the columns follow the list's own width.
}

void CPreviewList::DeleteAllItems() {
    clear();
}

void CPreviewList::FreeItemRecords() {
    for (int row = 0; row < count(); ++row) {
        if (PreviewItem* it = AsPreviewItem(item(row))) {
            it->record.reset();
        }
    }
}

const UpInfo* CPreviewList::RecordAt(int row) const {
    PreviewItem* it = AsPreviewItem(item(row));
    return it ? it->record.get() : nullptr;
}

int CPreviewList::RecordCount() const {
    int n = 0;
    for (int row = 0; row < count(); ++row) {
        n += RecordAt(row) ? 1 : 0;
    }
    return n;
}

std::u16string CPreviewList::ItemText(int row) const {
    QListWidgetItem* it = item(row);
    return it ? it->text().toStdU16String() : std::u16string();
}

int CPreviewList::HitTest(const QPoint& viewportPos) const {
    QListWidgetItem* it = itemAt(viewportPos);
    return it ? row(it) : -1;
}

QRect CPreviewList::IconRect(int row) const {
    QListWidgetItem* it = item(row);
    if (!it) {
        return {};
    }
    const QRect r = visualItemRect(it);
    // The icon sits centred at the top of the item, above its text.
    return QRect(r.center().x() - kThumbWidth / 2, r.top() + 4, kThumbWidth, kThumbHeight);
}

std::vector<int> CPreviewList::SelectedRows() const {
    std::vector<int> rows;
    for (QListWidgetItem* it : selectedItems()) {
        rows.push_back(row(it));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}
