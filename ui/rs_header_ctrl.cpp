#include "ui/rs_header_ctrl.h"

#include "ui/skin/du_style.h"
#include "ui/skin/skin_font.h"

#include <QPaintEvent>
#include <QPainter>

namespace {

constexpr int kItemEdge = 10; // edge width of a column's background
constexpr int kFillEdge = 4;  // edge width of the area right of the last column
constexpr int kMaxTitle = 256;

} // namespace

CRSHeaderCtrl::CRSHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setFixedHeight(kHeaderHeight);
    setSectionsClickable(false);
    setHighlightSections(false);
}

QSize CRSHeaderCtrl::sizeHint() const {
    return QSize(QHeaderView::sizeHint().width(), kHeaderHeight);
}

void CRSHeaderCtrl::LoadSkin() {
    DuStyle* style = DuAppStyle();
    LoadSkin(style ? style->SkinFolder() : std::u16string());
}

void CRSHeaderCtrl::LoadSkin(const std::u16string& skinFolder) {
    if (m_bLoaded) {
        return;
    }
    m_bLoaded = true;
    if (!skinFolder.empty()) {
        m_bitmap.load(QString::fromStdU16String(skinFolder + u"listview/headerctrl.bmp"));
    }
    m_font = SkinFont(QStringLiteral("Arial"), 12, QFont::Normal);
    viewport()->update();
}

QString CRSHeaderCtrl::DisplayText(int logicalIndex, int width) const {
    QString text;
    if (model()) {
        text = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString();
    }
    text.truncate(kMaxTitle);
    const QFontMetrics metrics(m_bLoaded ? m_font : font());
    return metrics.elidedText(text, Qt::ElideRight, std::max(width, 0));
}

void CRSHeaderCtrl::DrawThreeParts(QPainter& painter, const QPixmap& bitmap, const QRect& target,
                                   int edge) {
    const int w = bitmap.width();
    const int h = bitmap.height();
    if (bitmap.isNull() || w < edge || target.isEmpty()) {
        return;
    }
    const int rows = std::min(h, target.height()); // edges are copied, not scaled
    painter.drawPixmap(QRect(target.left(), target.top(), edge, rows), bitmap,
                       QRect(0, 0, edge, rows));
    const int middle = target.width() - 2 * edge;
    if (middle > 0 && w - 2 * edge > 0) {
        painter.drawPixmap(QRect(target.left() + edge, target.top(), middle, target.height()),
                           bitmap, QRect(edge, 0, w - 2 * edge, h));
    }
    painter.drawPixmap(QRect(target.left() + target.width() - edge, target.top(), edge, rows),
                       bitmap, QRect(w - edge, 0, edge, rows));
}

void CRSHeaderCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QRect area = viewport()->rect();
    if (!m_bitmap.isNull()) {
        const QRect corner(0, 0, std::min(30, m_bitmap.width()), std::min(22, m_bitmap.height()));
        painter.drawPixmap(area, m_bitmap, corner);
    }
    int lastRight = -1;
    int lastHeight = area.height();
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (isSectionHidden(logical)) {
            continue;
        }
        const QRect rect(sectionViewportPosition(logical), 0, sectionSize(logical), area.height());
        lastRight = rect.left() + rect.width();
        lastHeight = rect.height();
        if (rect.intersects(area)) {
            painter.save();
            paintSection(&painter, rect, logical);
            painter.restore();
        }
    }
    // The part right of the last column.
    if (lastRight >= 0 && lastRight < area.width()) {
        DrawThreeParts(painter, m_bitmap, QRect(lastRight, 0, area.width() - lastRight, lastHeight),
                       kFillEdge);
    }
}

void CRSHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    DrawThreeParts(*painter, m_bitmap, rect, kItemEdge);
    painter->setFont(m_bLoaded ? m_font : font());
    painter->setPen(QColor::fromRgb(kListTextColor));
    painter->drawText(rect, Qt::AlignCenter | Qt::TextSingleLine,
                      DisplayText(logicalIndex, rect.width()));
}
