#include "ui/skin/du_screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// Owned by the window; fits it at every show and when it moves to another screen.
class ScreenKeeper : public QObject {
public:
    ScreenKeeper(QWidget* window, QSize minimum, QSize maximum, bool maximizable)
        : QObject(window), m_window(window), m_wanted(window->size()), m_minimum(minimum),
          m_maximum(maximum), m_bMaximizable(maximizable) {
        window->installEventFilter(this);
    }

    void Update(QSize minimum, QSize maximum, bool maximizable) {
        m_wanted = m_window ? m_window->size() : m_wanted;
        m_minimum = minimum;
        m_maximum = maximum;
        m_bMaximizable = maximizable;
    }

    // Bounds the size limits by the screen's area; `opening`: also the size, the state and
    // the position, as the window is about to appear.
    void Fit(bool opening) {
        QWidget* w = m_window;
        if (!w) {
            return;
        }
        QScreen* screen = DuScreenFor(w->frameGeometry());
        if (!screen) {
            return;
        }
        const QRect area = screen->availableGeometry();
        if (area.isEmpty()) {
            return;
        }
        const QSize minimum = m_minimum.boundedTo(area.size());
        w->setMinimumSize(minimum);
        w->setMaximumSize(m_maximum.expandedTo(minimum));
        if (w->width() > area.width() || w->height() > area.height()) {
            w->resize(w->size().boundedTo(area.size()));
        }
        if (!opening) {
            return;
        }
        // Only the first time: a window the user restored stays restored when shown again.
        const bool larger =
            !m_bOpened && (m_wanted.width() > area.width() || m_wanted.height() > area.height());
        m_bOpened = true;
        if (larger && m_bMaximizable && w->maximumSize().width() >= area.width() &&
            w->maximumSize().height() >= area.height()) {
            w->setWindowState(w->windowState() | Qt::WindowMaximized);
        }
        if (!(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
            const QRect frame = w->frameGeometry();
            const QRect inside = DuBringInside(frame, area);
            if (inside.topLeft() != frame.topLeft()) {
                w->move(inside.topLeft());
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_window && event->type() == QEvent::Show) {
            // Sent before the window system shows the window: what changes here is what
            // appears.
            Fit(true);
            WatchScreen();
        }
        return false;
    }

private:
    void WatchScreen() {
        QWindow* handle = m_window ? m_window->windowHandle() : nullptr;
        if (!handle || handle == m_watched) {
            return;
        }
        m_watched = handle;
        connect(handle, &QWindow::screenChanged, this, [this](QScreen*) { Fit(false); });
    }

    QPointer<QWidget> m_window;
    QPointer<QWindow> m_watched;
    QSize m_wanted; // the size the window asked for before any fitting
    bool m_bOpened = false;
    QSize m_minimum;
    QSize m_maximum;
    bool m_bMaximizable;
};

} // namespace

QScreen* DuScreenFor(const QRect& frame) {
    const QPoint captionMiddle(frame.center().x(), frame.top() + 8);
    if (QScreen* under = QGuiApplication::screenAt(captionMiddle)) {
        return under;
    }
    QScreen* best = nullptr;
    long long bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(frame);
        const long long overlap = common.isEmpty() ? 0 : 1LL * common.width() * common.height();
        if (overlap > bestArea) {
            best = screen;
            bestArea = overlap;
        }
    }
    return best ? best : QGuiApplication::primaryScreen();
}

QRect DuBringInside(const QRect& frame, const QRect& area) {
    QRect r = frame;
    r.moveLeft(std::max(std::min(r.left(), area.right() - r.width() + 1), area.left()));
    r.moveTop(std::max(std::min(r.top(), area.bottom() - r.height() + 1), area.top()));
    return r;
}

void DuKeepOnScreen(QWidget* window, QSize minimum, QSize maximum, bool maximizable) {
    if (!window) {
        return;
    }
    ScreenKeeper* keeper = nullptr;
    for (QObject* child : window->children()) {
        if (auto* k = dynamic_cast<ScreenKeeper*>(child)) {
            keeper = k;
        }
    }
    if (keeper) {
        keeper->Update(minimum, maximum, maximizable);
    } else {
        keeper = new ScreenKeeper(window, minimum, maximum, maximizable);
    }
    keeper->Fit(false);
}
