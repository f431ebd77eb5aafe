// The widgets that draw a skinned window: the surface under everything (background,
// caption, border, moving and resizing the frameless window) and one widget per control.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

class DuControl;
class DuWindow;

class DuSurface : public QWidget {
public:
    DuSurface(DuWindow* window, QWidget* host);

    // Places every control for the current size.
    void LayoutControls();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    Qt::Edges EdgesAt(QPoint pos) const;
    bool InCaption(QPoint pos) const;

    DuWindow* m_pWindow;
    enum class Drag { None, PendingMove, Move, Resize } m_drag = Drag::None;
    Qt::Edges m_dragEdges;
    QPoint m_dragStart;    // global position at the press
    QRect m_startGeometry; // host geometry at the press
};

class DuControlWidget : public QWidget {
public:
    DuControlWidget(DuControl* control, QWidget* parent);

    DuControl* Control() const { return m_pControl; }
    void LayoutChildren();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool Interactive() const;
    void Activate();

    DuControl* m_pControl;
};
