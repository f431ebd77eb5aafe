#include "ui/skin/du_surface.h"

#include "ui/skin/du_control.h"
#include "ui/skin/du_events.h"
#include "ui/skin/du_style.h"
#include "ui/skin/du_window.h"
#include "ui/skin/skin_font.h"
#include "ui/skin/skin_model.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QStyleHints>
#include <QWindow>

namespace {

constexpr int kGrip = 5; // width of the band along the edges that resizes the window

const DuSkinDef& SkinOf(const DuWindow* window) {
    return window->Style()->Skin();
}

QFont FontFor(const DuWindow* window, int size, bool bold) {
    const DuSkinDef& skin = SkinOf(window);
    const QString first =
        skin.fonts.empty() ? QString() : QString::fromStdU16String(skin.fonts.front());
    QFont font =
        SkinFont(first, size > 0 ? size : skin.fontSize, bold ? QFont::DemiBold : QFont::Normal);
    if (skin.fonts.size() > 1) {
        QStringList families;
        for (const auto& f : skin.fonts) {
            families << QString::fromStdU16String(f);
        }
        families << font.families();
        families.removeDuplicates();
        font.setFamilies(families);
    }
    return font;
}

// A registered image resource by that name, else a picture file below the skin folder.
QPixmap PictureFor(const DuWindow* window, const std::u16string& name) {
    if (name.empty()) {
        return {};
    }
    DuStyle* style = window->Style();
    if (DuImage* image = style->ImageResources()->Find(name)) {
        return image->Pixmap();
    }
    const QString path = QString::fromStdU16String(style->SkinFolder() + name);
    QPixmap pixmap;
    if (!QPixmapCache::find(path, &pixmap)) {
        pixmap.load(path);
        if (!pixmap.isNull()) {
            QPixmapCache::insert(path, pixmap);
        }
    }
    return pixmap;
}

void DrawGlyph(QPainter& p, DuGlyph glyph, const QRect& r, const QColor& color, bool checked) {
    const QPointF c = QRectF(r).center();
    const qreal s = std::min(r.width(), r.height()) * 0.2;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case DuGlyph::Close:
        p.drawLine(QPointF(c.x() - s, c.y() - s), QPointF(c.x() + s, c.y() + s));
        p.drawLine(QPointF(c.x() - s, c.y() + s), QPointF(c.x() + s, c.y() - s));
        break;
    case DuGlyph::Minimize:
        p.drawLine(QPointF(c.x() - s, c.y()), QPointF(c.x() + s, c.y()));
        break;
    case DuGlyph::Maximize:
        if (checked) { // restore: two overlapping frames
            p.drawRect(QRectF(c.x() - s, c.y() - s * 0.6, s * 1.6, s * 1.6));
            p.drawLine(QPointF(c.x() - s * 0.6, c.y() - s), QPointF(c.x() + s, c.y() - s));
            p.drawLine(QPointF(c.x() + s, c.y() - s), QPointF(c.x() + s, c.y() + s * 0.6));
        } else {
            p.drawRect(QRectF(c.x() - s, c.y() - s, 2 * s, 2 * s));
        }
        break;
    case DuGlyph::Menu:
        for (int i = -1; i <= 1; ++i) {
            p.drawLine(QPointF(c.x() - s, c.y() + i * s * 0.8),
                       QPointF(c.x() + s, c.y() + i * s * 0.8));
        }
        break;
    case DuGlyph::None:
        break;
    }
    p.restore();
}

} // namespace

// ---------------------------------------------------------------------------------------
// Surface

DuSurface::DuSurface(DuWindow* window, QWidget* host) : QWidget(host), m_pWindow(window) {
    setMouseTracking(true);
    setGeometry(host->rect());
    lower(); // under every widget the window adds itself
    show();
    host->installEventFilter(this);
}

bool DuSurface::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget()) {
        if (event->type() == QEvent::Resize) {
            setGeometry(parentWidget()->rect());
        } else if (event->type() == QEvent::WindowTitleChange) {
            update();
        }
    }
    return false;
}

void DuSurface::LayoutControls() {
    for (const auto& child : m_pWindow->Self()->Children()) {
        if (auto* w = static_cast<DuControlWidget*>(child->Widget())) {
            w->setGeometry(m_pWindow->Definition()->PlaceControl(*child->Definition(), size()));
            w->LayoutChildren(); // also when the size did not change
        }
    }
}

void DuSurface::resizeEvent(QResizeEvent*) {
    LayoutControls();
}

void DuSurface::paintEvent(QPaintEvent*) {
    const DuWindowDef* def = m_pWindow->Definition();
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, def->background.isValid() ? def->background : QColor(255, 255, 255));
    if (def->captionHeight > 0) {
        const QRect caption(0, 0, r.width(), def->captionHeight);
        if (def->captionBackground.isValid()) {
            if (def->captionBackground2.isValid()) {
                QLinearGradient g(caption.topLeft(), caption.bottomLeft());
                g.setColorAt(0, def->captionBackground);
                g.setColorAt(1, def->captionBackground2);
                p.fillRect(caption, g);
            } else {
                p.fillRect(caption, def->captionBackground);
            }
        }
        int x = def->titleLeft;
        const QPixmap icon = PictureFor(m_pWindow, def->icon);
        if (!icon.isNull()) {
            const QSize s = icon.size().scaled(QSize(20, 20), Qt::KeepAspectRatio);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawPixmap(QRect(QPoint(x, (def->captionHeight - s.height()) / 2), s), icon);
            x += s.width() + 6;
        }
        if (def->titleSize > 0) {
            p.setFont(FontFor(m_pWindow, def->titleSize, true));
            p.setPen(def->titleColor.isValid() ? def->titleColor : QColor(255, 255, 255));
            const QRect titleRect(x, 0, r.width() - x - 8, def->captionHeight);
            const QString title = parentWidget()->windowTitle();
            p.drawText(titleRect, Qt::AlignVCenter | Qt::AlignLeft,
                       p.fontMetrics().elidedText(title, Qt::ElideRight, titleRect.width()));
        }
    }
    if (def->border.isValid()) {
        p.setPen(def->border);
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
    }
}

Qt::Edges DuSurface::EdgesAt(QPoint pos) const {
    Qt::Edges edges;
    QWidget* host = parentWidget();
    if (!m_pWindow->Definition()->resizable || !host || host->isMaximized()) {
        return edges;
    }
    if (pos.x() < kGrip) {
        edges |= Qt::LeftEdge;
    }
    if (pos.x() >= width() - kGrip) {
        edges |= Qt::RightEdge;
    }
    if (pos.y() < kGrip) {
        edges |= Qt::TopEdge;
    }
    if (pos.y() >= height() - kGrip) {
        edges |= Qt::BottomEdge;
    }
    return edges;
}

bool DuSurface::InCaption(QPoint pos) const {
    return pos.y() < m_pWindow->Definition()->captionHeight;
}

void DuSurface::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    QWidget* host = parentWidget();
    const QPoint pos = event->position().toPoint();
    const Qt::Edges edges = EdgesAt(pos);
    QWindow* handle = host->windowHandle();
    if (edges) {
        // The window system does it best where it can; otherwise follow the mouse.
        if (!(handle && handle->startSystemResize(edges))) {
            m_drag = Drag::Resize;
            m_dragEdges = edges;
        }
    } else if (InCaption(pos) && !host->isMaximized()) {
        // The move starts once the mouse moves: a window system that takes the mouse over
        // at the press would swallow the second click of a double click.
        m_drag = Drag::PendingMove;
    }
    m_dragStart = event->globalPosition().toPoint();
    m_startGeometry = host->geometry();
}

void DuSurface::mouseMoveEvent(QMouseEvent* event) {
    QWidget* host = parentWidget();
    if (m_drag == Drag::None) {
        const Qt::Edges edges = EdgesAt(event->position().toPoint());
        if ((edges & Qt::LeftEdge && edges & Qt::TopEdge) ||
            (edges & Qt::RightEdge && edges & Qt::BottomEdge)) {
            setCursor(Qt::SizeFDiagCursor);
        } else if ((edges & Qt::RightEdge && edges & Qt::TopEdge) ||
                   (edges & Qt::LeftEdge && edges & Qt::BottomEdge)) {
            setCursor(Qt::SizeBDiagCursor);
        } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
            setCursor(Qt::SizeHorCursor);
        } else if (edges & (Qt::TopEdge | Qt::BottomEdge)) {
            setCursor(Qt::SizeVerCursor);
        } else {
            unsetCursor();
        }
        return;
    }
    const QPoint delta = event->globalPosition().toPoint() - m_dragStart;
    if (m_drag == Drag::PendingMove) {
        if (!(event->buttons() & Qt::LeftButton)) {
            m_drag = Drag::None;
            return;
        }
        if (delta.manhattanLength() < QGuiApplication::styleHints()->startDragDistance()) {
            return;
        }
        QWindow* handle = host->windowHandle();
        m_drag = handle && handle->startSystemMove() ? Drag::None : Drag::Move;
        if (m_drag == Drag::None) {
            return;
        }
    }
    if (m_drag == Drag::Move) {
        host->move(m_startGeometry.topLeft() + delta);
        return;
    }
    QRect g = m_startGeometry;
    const QSize minimum = host->minimumSize();
    if (m_dragEdges & Qt::LeftEdge) {
        g.setLeft(std::min(g.left() + delta.x(), g.right() - minimum.width() + 1));
    }
    if (m_dragEdges & Qt::RightEdge) {
        g.setRight(std::max(g.right() + delta.x(), g.left() + minimum.width() - 1));
    }
    if (m_dragEdges & Qt::TopEdge) {
        g.setTop(std::min(g.top() + delta.y(), g.bottom() - minimum.height() + 1));
    }
    if (m_dragEdges & Qt::BottomEdge) {
        g.setBottom(std::max(g.bottom() + delta.y(), g.top() + minimum.height() - 1));
    }
    host->setGeometry(g);
}

void DuSurface::mouseReleaseEvent(QMouseEvent*) {
    m_drag = Drag::None;
}

void DuSurface::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && InCaption(event->position().toPoint()) &&
        m_pWindow->Definition()->maximizeOnDoubleClick) {
        m_pWindow->SendEvent(m_pWindow->Self(), kDuEventMaximizeToggle);
    }
}

// ---------------------------------------------------------------------------------------
// Controls

DuControlWidget::DuControlWidget(DuControl* control, QWidget* parent)
    : QWidget(parent), m_pControl(control) {
    const DuLook& look = control->Definition()->look;
    if (look.hand) {
        setCursor(Qt::PointingHandCursor);
    }
    if (!look.tooltip.empty()) {
        setToolTip(QString::fromStdU16String(look.tooltip));
    }
    setAttribute(Qt::WA_Hover, Interactive());
}

bool DuControlWidget::Interactive() const {
    switch (m_pControl->Kind()) {
    case DuKind::Button:
    case DuKind::CheckButton:
    case DuKind::TabButton:
        return true;
    case DuKind::Text:
    case DuKind::Image:
        return m_pControl->Definition()->look.hand; // links and image buttons
    default:
        return false;
    }
}

void DuControlWidget::LayoutChildren() {
    for (const auto& child : m_pControl->Children()) {
        if (auto* w = static_cast<DuControlWidget*>(child->Widget())) {
            w->setGeometry(child->Definition()->geometry.Place(size()));
            w->LayoutChildren();
        }
    }
    if (QWidget* adopted = m_pControl->Adopted()) {
        const int inset = m_pControl->Definition()->look.border.isValid() ? 1 : 0;
        adopted->setGeometry(rect().adjusted(inset, inset, -inset, -inset));
    }
}

void DuControlWidget::resizeEvent(QResizeEvent*) {
    LayoutChildren();
}

void DuControlWidget::enterEvent(QEnterEvent*) {
    if (Interactive()) {
        m_pControl->SetHovered(true);
        update();
    }
}

void DuControlWidget::leaveEvent(QEvent*) {
    if (Interactive()) {
        m_pControl->SetHovered(false);
        m_pControl->SetPressed(false);
        update();
    }
}

void DuControlWidget::mousePressEvent(QMouseEvent* event) {
    if (!Interactive() || event->button() != Qt::LeftButton) {
        event->ignore(); // the surface below moves the window
        return;
    }
    m_pControl->SetPressed(true);
    update();
}

void DuControlWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    // A quick second click on a button is a second click, not a caption double click.
    if (Interactive()) {
        mousePressEvent(event);
    } else {
        event->ignore();
    }
}

void DuControlWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (!Interactive() || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const bool wasPressed = m_pControl->IsPressed();
    m_pControl->SetPressed(false);
    update();
    if (wasPressed && rect().contains(event->position().toPoint())) {
        Activate();
    }
}

void DuControlWidget::Activate() {
    DuControl* control = m_pControl;
    DuWindow* window = control->Window();
    QWidget* host = window->HostWindow();
    switch (control->Definition()->action) {
    case DuAction::Close:
        window->Style()->Close(host);
        return;
    case DuAction::Minimize:
        host->showMinimized();
        return;
    case DuAction::None:
        break;
    }
    switch (control->Kind()) {
    case DuKind::CheckButton:
        control->ToggleCheckQuietly();
        update();
        window->SendEvent(control, kDuEventStateChange, control->CheckState() ? 1 : 0);
        break;
    case DuKind::TabButton:
        control->Select();
        break;
    default:
        window->SendEvent(control, kDuEventClick);
        break;
    }
}

void DuControlWidget::paintEvent(QPaintEvent*) {
    const DuControlDef* def = m_pControl->Definition();
    const DuLook& look = def->look;
    DuWindow* window = m_pControl->Window();
    const DuKind kind = m_pControl->Kind();
    const bool on =
        kind == DuKind::CheckButton ? m_pControl->CheckState() : m_pControl->IsSelected();
    const bool hovered = m_pControl->IsHovered();
    const bool pressed = m_pControl->IsPressed();

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    QColor fill = look.background;
    if (on && look.checkedBackground.isValid() && kind == DuKind::TabButton) {
        fill = look.checkedBackground;
    } else if (pressed && look.pressedBackground.isValid()) {
        fill = look.pressedBackground;
    } else if (hovered && look.hoverBackground.isValid()) {
        fill = look.hoverBackground;
    }
    if (fill.isValid() || look.border.isValid()) {
        p.setPen(look.border.isValid() ? QPen(look.border, 1) : Qt::NoPen);
        p.setBrush(fill.isValid() ? QBrush(fill) : Qt::NoBrush);
        p.drawRoundedRect(box, look.radius, look.radius);
    }

    // Picture: the state's own when the skin gives one.
    std::u16string pictureName = look.image;
    if (on && !look.checkedImage.empty()) {
        pictureName = look.checkedImage;
    } else if (hovered && !look.hoverImage.empty()) {
        pictureName = look.hoverImage;
    }
    const QPixmap picture = PictureFor(window, pictureName);
    const QString text = QString::fromStdU16String(m_pControl->Text());
    QRect textRect = rect().adjusted(look.padding, 0, -look.padding, 0);

    if (!picture.isNull()) {
        if (text.isEmpty()) {
            const QSize s = picture.size().scaled(size(), Qt::KeepAspectRatio);
            const QRect target(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
            if (look.radius > 0 && kind == DuKind::Image) {
                QPainterPath clip;
                clip.addRoundedRect(QRectF(target), look.radius, look.radius);
                p.setClipPath(clip);
            }
            p.drawPixmap(target, picture);
            p.setClipping(false);
        } else {
            const QSize s = picture.size().boundedTo(QSize(height(), height()));
            const int x = textRect.left();
            p.drawPixmap(QRect(QPoint(x, (height() - s.height()) / 2), s), picture);
            textRect.setLeft(x + s.width() + 6);
        }
    }

    QColor textColor = look.textColor.isValid() ? look.textColor : QColor(51, 51, 51);
    if (hovered && look.hoverTextColor.isValid()) {
        textColor = look.hoverTextColor;
    }
    if (look.glyph != DuGlyph::None) {
        DrawGlyph(p, look.glyph, rect(), textColor, on);
    }

    if (kind == DuKind::CheckButton && look.glyph == DuGlyph::None && picture.isNull()) {
        // The box and its tick, left of the text.
        const int s = 14;
        const QRectF tick(textRect.left() + 0.5, (height() - s) / 2 + 0.5, s - 1, s - 1);
        p.setPen(QPen(on ? QColor(47, 128, 208) : QColor(160, 172, 184), 1));
        p.setBrush(on ? QColor(47, 128, 208) : QColor(255, 255, 255));
        p.drawRoundedRect(tick, 3, 3);
        if (on) {
            p.setPen(QPen(QColor(255, 255, 255), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const QPointF a(tick.left() + 3, tick.center().y());
            const QPointF b(tick.left() + 5.8, tick.bottom() - 3.5);
            const QPointF c(tick.right() - 3, tick.top() + 3.5);
            p.drawPolyline(QPolygonF({a, b, c}));
        }
        textRect.setLeft(textRect.left() + s + 6);
    }

    if (!text.isEmpty()) {
        QFont font = FontFor(window, look.fontSize, look.bold);
        if (look.underlineOnHover && hovered) {
            font.setUnderline(true);
        }
        p.setFont(font);
        p.setPen(textColor);
        int align = look.align;
        if (!(align & Qt::AlignHorizontal_Mask)) {
            const bool centred = kind == DuKind::Button || kind == DuKind::TabButton;
            align |= centred && picture.isNull() ? Qt::AlignHCenter : Qt::AlignLeft;
        }
        if (!(align & Qt::AlignVertical_Mask)) {
            align |= Qt::AlignVCenter;
        }
        if (look.wrap) {
            p.drawText(textRect, align | Qt::TextWordWrap, text);
        } else {
            p.drawText(textRect, align,
                       p.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
        }
    }

    if (m_pControl->HasFocusedLook()) {
        p.setPen(QPen(QColor(47, 128, 208), 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box.adjusted(1, 1, -1, -1), look.radius, look.radius);
    }
}
