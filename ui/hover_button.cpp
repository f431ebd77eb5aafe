#include "ui/hover_button.h"

#include <QPainter>

QString BitmapResourcePath(int resourceId) {
    switch (resourceId) {
    case kBitmapResume:
        return QStringLiteral(":/res/btn_resume.png");
    case kBitmapCancel:
        return QStringLiteral(":/res/btn_cancel.png");
    case kBitmapPause:
        return QStringLiteral(":/res/btn_pause.png");
    case kBitmapUploadFloat:
        return QStringLiteral(":/res/btn_upload_float.png");
    default:
        return {};
    }
}

CHoverButton::CHoverButton(QWidget* parent, const QRect& rect, int controlId)
    : QPushButton(parent), m_nControlId(controlId) {
    setGeometry(rect);
    setFlat(true);
    setFocusPolicy(Qt::NoFocus); // one look only: no focus frame
    setCursor(Qt::PointingHandCursor);
}

bool CHoverButton::LoadButtonBitmap(int resourceId) {
    const QString path = BitmapResourcePath(resourceId);
    if (path.isEmpty()) {
        return false;
    }
    return SetButtonBitmap(QPixmap(path));
}

bool CHoverButton::SetButtonBitmap(const QPixmap& bitmap) {
    if (bitmap.isNull()) {
        return false;
    }
    m_bitmap = bitmap;
    m_nWidth = bitmap.width();
    m_nHeight = bitmap.height();
    resize(m_nWidth, m_nHeight); // position and stacking order stay
    update();
    return true;
}

void CHoverButton::paintEvent(QPaintEvent*) {
    // Pressed, focused and disabled look the same: the picture, unscaled, at the origin.
    QPainter painter(this);
    if (!m_bitmap.isNull()) {
        painter.drawPixmap(0, 0, m_bitmap);
    }
}
