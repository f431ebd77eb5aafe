#include "ui/mainframe/preview_list.h"

#include "media/preview_grid.h"
#include "media/thumb_loader.h"

#include <QPainter>
#include <QPointer>
#include <QScrollBar>
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
    m_blankIcon = QIcon(m_blank);

    // A scroll, a resize or new items change what is on screen; asked for once the list
    // has settled for a moment, so a fast scroll does not queue every screen it passes.
    m_wantedTimer.setSingleShot(true);
    m_wantedTimer.setInterval(30);
    QObject::connect(&m_wantedTimer, &QTimer::timeout, this, [this]() { UpdateWanted(); });
    QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value != m_lastScroll) {
            m_direction = value > m_lastScroll ? 1 : -1;
            m_lastScroll = value;
        }
        ScheduleWanted();
    });
    QObject::connect(model(), &QAbstractItemModel::rowsInserted, this,
                     [this]() { ScheduleWanted(); });

    QPointer<CPreviewList> self(this);
    m_loader = std::make_unique<ThumbLoader>([self](int generation, int index, const QImage& cell) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, index, cell]() {
                if (self && self->m_loader && self->m_loader->Generation() == generation) {
                    self->ReplaceImage(index, cell);
                }
            },
            Qt::QueuedConnection);
    });
}

CPreviewList::~CPreviewList() {
    m_loader.reset(); // joins the decoders before the list goes
}

void CPreviewList::SetImageCount(int count) {
    m_imageCount = std::max(count, 0);
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (it->first >= m_imageCount) {
            m_use.erase(it->second.use);
            it = m_held.erase(it);
        } else {
            ++it;
        }
    }
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
    auto found = m_held.find(index);
    if (found != m_held.end()) {
        m_use.erase(found->second.use);
    }
    m_use.push_front(index);
    m_held[index] = Held{pixmap, m_use.begin()};
    // The workers give item i image i; an item already showing this image follows.
    if (QListWidgetItem* it = item(index); it && it->data(kImageRole).toInt() == index) {
        it->setIcon(QIcon(pixmap));
    }
    TrimHeld();
}

void CPreviewList::TrimHeld() {
    if (static_cast<int>(m_held.size()) <= kHeldImages) {
        return;
    }
    // The least recently made go first; never one on screen.
    const auto [first, last] = VisibleRange();
    auto it = m_use.end();
    while (static_cast<int>(m_held.size()) > kHeldImages && it != m_use.begin()) {
        --it;
        const int index = *it;
        if (index >= first && index <= last) {
            continue;
        }
        if (QListWidgetItem* shown = item(index);
            shown && shown->data(kImageRole).toInt() == index) {
            shown->setIcon(m_blankIcon);
        }
        m_held.erase(index);
        it = m_use.erase(it);
    }
}

void CPreviewList::RemoveAllImages() {
    m_held.clear();
    m_use.clear();
    m_imageCount = 0;
}

void CPreviewList::ApplyImage(QListWidgetItem* item, int image) {
    item->setData(kImageRole, image);
    auto found = m_held.find(image);
    if (image >= 0 && image < ImageCount() && found != m_held.end()) {
        item->setIcon(QIcon(found->second.pixmap));
    } else {
        item->setIcon(m_blankIcon);
    }
}

void CPreviewList::StartThumbnails(bool desktopCache, std::u16string videoPlaceholder) {
    m_loader->SetFiles({}, desktopCache, std::move(videoPlaceholder));
    m_loading = true;
    // A new preview opens at its top: the last one's scroll position means nothing to it.
    const int columns = std::max(1, viewport()->width() / kCellWidth);
    m_lastWanted = (std::max(viewport()->height(), kCellHeight) / kCellHeight + 1) * columns - 1;
    m_firstShown = 0;
    m_shownDirection = 1;
}

void CPreviewList::SetItemFile(int index, const std::u16string& file) {
    m_loader->SetFile(index, file);
    ScheduleWanted();
}

void CPreviewList::StopThumbnails() {
    m_loader->Cancel();
    m_loading = false;
    m_wantedTimer.stop();
}

bool CPreviewList::ThumbnailsPending() const {
    if (!m_loading) {
        return false;
    }
    if (m_wantedTimer.isActive() || m_loader->Busy()) {
        return true;
    }
    const auto [first, last] = VisibleRange();
    for (int i = first; i <= last; ++i) {
        if (!HasImage(i)) {
            return true;
        }
    }
    return false;
}

std::pair<int, int> CPreviewList::VisibleRange() const {
    const int n = count();
    if (n == 0) {
        return {0, -1};
    }
    // Item i stands in cell i of a grid as wide as the viewport allows.
    const int columns = std::max(1, viewport()->width() / kCellWidth);
    const int height = std::max(viewport()->height(), kCellHeight);
    const int top = verticalScrollBar()->value();
    const int first = std::min(n - 1, (top / kCellHeight) * columns);
    const int last = std::min(n - 1, ((top + height - 1) / kCellHeight + 1) * columns - 1);
    return {first, last};
}

void CPreviewList::ScheduleWanted() {
    if (m_loading && !m_wantedTimer.isActive()) {
        m_wantedTimer.start();
    }
}

void CPreviewList::UpdateWanted() {
    if (!m_loading) {
        return;
    }
    const int columns = std::max(1, viewport()->width() / kCellWidth);
    const int bottom = verticalScrollBar()->value() + std::max(viewport()->height(), kCellHeight);
    m_lastWanted = (bottom / kCellHeight + 1) * columns - 1;
    m_firstShown = (verticalScrollBar()->value() / kCellHeight) * columns;
    m_shownDirection = m_direction;
    const auto [first, last] = VisibleRange();
    if (last < first) {
        return;
    }
    m_loader->SetWanted(first, last, m_direction, [this](int i) { return HasImage(i); });
}

void CPreviewList::resizeEvent(QResizeEvent* e) {
    QListWidget::resizeEvent(e);
    ScheduleWanted();
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
