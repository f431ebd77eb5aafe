#include "media/thumbnail.h"

#include <QImageReader>
#include <QString>

#include "media/bicubic.h"

namespace {

// JPEG decoders reduce by M/8 (M = 1..8) while decoding, far cheaper than decoding the
// full picture. Pick the strongest reduction that still leaves at least twice the drawn
// size for the bicubic pass to work on; 0 when no reduction helps.
QSize ReducedJpegSize(const QSize& full, const ThumbPlacement& p) {
    for (int m = 1; m < 8; ++m) {
        long long w = (static_cast<long long>(full.width()) * m + 7) / 8;
        long long h = (static_cast<long long>(full.height()) * m + 7) / 8;
        if (w >= 2LL * p.width && h >= 2LL * p.height)
            return QSize(static_cast<int>(w), static_cast<int>(h));
    }
    return QSize();
}

} // namespace

ThumbPlacement PlaceInThumbnail(int w, int h) {
    ThumbPlacement p;
    if (w <= 0 || h <= 0)
        return p;
    const float fw = static_cast<float>(w), fh = static_cast<float>(h);
    const float sx = static_cast<float>(kThumbWidth) / fw;
    const float sy = static_cast<float>(kThumbHeight) / fh;
    float s;
    if (sy < sx) {
        s = sy;
        p.x = static_cast<int>((static_cast<float>(kThumbWidth) - fw * s) / 2.0f);
    } else {
        s = sx;
        p.y = static_cast<int>((static_cast<float>(kThumbHeight) - fh * s) / 2.0f);
    }
    p.width = static_cast<int>(fw * s);
    p.height = static_cast<int>(fh * s);
    return p;
}

QImage WhiteThumbnail() {
    QImage img(kThumbWidth, kThumbHeight, QImage::Format_RGB888);
    img.fill(Qt::white);
    return img;
}

QImage MakeThumbnail(const std::u16string& path) {
    QImage thumb = WhiteThumbnail();
    if (path.empty())
        return thumb;
    QImageReader reader(QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size())));
    reader.setAutoTransform(false);
    QSize full = reader.size();
    ThumbPlacement p;
    if (full.isValid()) {
        p = PlaceInThumbnail(full.width(), full.height());
        if (reader.format() == "jpeg" && reader.supportsOption(QImageIOHandler::ScaledSize)) {
            QSize reduced = ReducedJpegSize(full, p);
            if (reduced.isValid())
                reader.setScaledSize(reduced);
        }
    }
    QImage src = reader.read();
    if (src.isNull())
        return thumb;
    if (!full.isValid())
        p = PlaceInThumbnail(src.width(), src.height());
    thumb.setDotsPerMeterX(src.dotsPerMeterX());
    thumb.setDotsPerMeterY(src.dotsPerMeterY());
    DrawBicubic(src, thumb, QRect(p.x, p.y, p.width, p.height));
    return thumb;
}
