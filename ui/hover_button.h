// A push button that shows one picture and is exactly the picture's size. Used for the
// floating upload button and the per-row buttons of the upload list. Clicks arrive as the
// button's clicked signal; ControlId() tells the owner which button it was.
#pragma once

#include <QPixmap>
#include <QPushButton>

// Picture resources of the program (the numbers its windows use).
inline constexpr int kBitmapResume = 317;
inline constexpr int kBitmapCancel = 318;
inline constexpr int kBitmapPause = 319;
inline constexpr int kBitmapUploadFloat = 326;

// The resource path of a picture number, or an empty text for an unknown number.
QString BitmapResourcePath(int resourceId);

class CHoverButton : public QPushButton {
public:
    CHoverButton(QWidget* parent, const QRect& rect, int controlId);

    // Loads the numbered picture, keeps it and resizes the button to its size, keeping the
    // position. False, and the button unchanged, for an unknown or unreadable picture.
    bool LoadButtonBitmap(int resourceId);
    // The same from a picture already in memory (null is refused).
    bool SetButtonBitmap(const QPixmap& bitmap);

    int ControlId() const { return m_nControlId; }
    int BitmapWidth() const { return m_nWidth; }
    int BitmapHeight() const { return m_nHeight; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_nControlId;
    QPixmap m_bitmap;
    int m_nWidth = 0;
    int m_nHeight = 0;
};
