// Keeps top-level windows usable on small or scaled screens: every window's minimum size
// fits the available area of its screen, a window larger than that opens at that size
// (maximised when allowed) and its caption never lies outside every screen.
#pragma once

#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// The screen a window at `frame` belongs to: the one under the middle of its top edge, else
// the one it overlaps most, else the primary screen. Null without any screen.
QScreen* DuScreenFor(const QRect& frame);

// `frame` moved so that it lies inside `area` (its top-left corner wins when it is larger).
QRect DuBringInside(const QRect& frame, const QRect& area);

// Fits `window` (a top-level widget) now and again before every show. `minimum` and
// `maximum` are the sizes its layout wants; on a screen smaller than them they shrink to
// the available area. A window that would open larger than its screen opens at the
// available size, maximised when `maximizable`.
void DuKeepOnScreen(QWidget* window, QSize minimum, QSize maximum, bool maximizable);
