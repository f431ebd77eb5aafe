// The skinned column header of the upload list: 30 pixels high, every column drawn from
// the skin's "listview/headerctrl.bmp" in three parts with its title centred in one line.
#pragma once

#include <QFont>
#include <QHeaderView>
#include <QPixmap>

inline constexpr int kHeaderHeight = 30;
inline constexpr QRgb kListTextColor = 0xFF3D586D; // RGB(61, 88, 109)

class CRSHeaderCtrl : public QHeaderView {
public:
    explicit CRSHeaderCtrl(QWidget* parent = nullptr);

    // Loads the background picture from the application style's skin folder and creates the
    // font; once only. A missing picture leaves the header with texts only.
    void LoadSkin();
    // The same with an explicit skin folder (ending with "/").
    void LoadSkin(const std::u16string& skinFolder);
    bool HasBackground() const { return !m_bitmap.isNull(); }

    // The title of a column as drawn in `width` pixels: at most 256 characters, with an
    // ellipsis at the end when it does not fit.
    QString DisplayText(int logicalIndex, int width) const;

    // Draws the picture's three parts into `target`: the left and right `edge` columns
    // unscaled, the middle stretched. Nothing when the picture is narrower than `edge`.
    static void DrawThreeParts(QPainter& painter, const QPixmap& bitmap, const QRect& target,
                               int edge);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    QPixmap m_bitmap;
    QFont m_font;
    bool m_bLoaded = false;
};
