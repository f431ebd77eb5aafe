#include "media/thumbnail.h"

#include <QImageReader>
#include <QString>
#include <filesystem>
#include <mutex>

#include "media/bicubic.h"
#include "media/file_name.h"

namespace {

// JPEG decoders reduce by M/8 (M = 1..8) while decoding, far cheaper than decoding the
// full picture. Pick the strongest reduction that still leaves at least `need` pixels
// for the bicubic pass to work on; the full size when no reduction helps.
QSize ReducedJpegSize(const QSize& full, const QSize& need) {
    for (int m = 1; m < 8; ++m) {
        long long w = (static_cast<long long>(full.width()) * m + 7) / 8;
        long long h = (static_cast<long long>(full.height()) * m + 7) / 8;
        if (w >= need.width() && h >= need.height())
            return QSize(static_cast<int>(w), static_cast<int>(h));
    }
    return full;
}

struct Decoded {
    QImage image;  // upright, possibly reduced while decoding
    QSize upright; // the whole picture's upright size
};

// Decodes `path` upright. `need(upright)` gives the smallest upright size worth decoding
// to; the decoder may reduce to it. Refuses what is not a bounded regular file, and
// pictures that would decode to more than kMaxDecodePixels.
template <class Need> Decoded DecodeUpright(const std::u16string& path, Need need) {
    Decoded out;
    if (path.empty())
        return out;
    const QString file = media::QtFileName(path);
    // A FIFO or device named like a picture would never end.
    std::error_code ec;
    const std::filesystem::path fsPath(platform::ToNarrow(path));
    if (!std::filesystem::is_regular_file(fsPath, ec) ||
        std::filesystem::file_size(fsPath, ec) > static_cast<std::uintmax_t>(kMaxPictureBytes) ||
        ec)
        return out;
    QImageReader reader(file);
    reader.setAutoTransform(true);
    const QSize raw = reader.size(); // as stored, before the orientation is applied
    const bool transposed =
        (reader.transformation() & QImageIOHandler::TransformationRotate90) != 0;
    QSize decodeSize = raw;
    if (raw.isValid()) {
        const QSize upright = transposed ? raw.transposed() : raw;
        out.upright = upright;
        if (reader.format() == "jpeg" && reader.supportsOption(QImageIOHandler::ScaledSize)) {
            QSize want = need(upright);
            decodeSize = ReducedJpegSize(raw, transposed ? want.transposed() : want);
            if (decodeSize != raw)
                reader.setScaledSize(decodeSize);
        }
        if (static_cast<long long>(decodeSize.width()) * decodeSize.height() > kMaxDecodePixels)
            return out;
    }
    out.image = reader.read();
    if (out.image.isNull())
        return out;
    if (!out.upright.isValid())
        out.upright = out.image.size();
    return out;
}

QSize FitInBox(QSize size, QSize box) {
    if (size.isEmpty())
        return {};
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

} // namespace

void SetDecodeAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(kDecodeAllocationLimitMb); });
}

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
    Decoded d = DecodeUpright(path, [](QSize upright) {
        ThumbPlacement p = PlaceInThumbnail(upright.width(), upright.height());
        return QSize(2 * p.width, 2 * p.height);
    });
    if (d.image.isNull())
        return thumb;
    const ThumbPlacement p = PlaceInThumbnail(d.upright.width(), d.upright.height());
    thumb.setDotsPerMeterX(d.image.dotsPerMeterX());
    thumb.setDotsPerMeterY(d.image.dotsPerMeterY());
    DrawBicubic(d.image, thumb, QRect(p.x, p.y, p.width, p.height));
    return thumb;
}

Picture LoadPicture(const std::u16string& path, QSize box) {
    Picture out;
    Decoded d = DecodeUpright(path, [box](QSize upright) { return FitInBox(upright, box); });
    if (d.image.isNull())
        return out;
    out.original = d.upright;
    const QSize fit = FitInBox(d.image.size(), box);
    if (fit == d.image.size() && d.image.format() == QImage::Format_RGB888) {
        out.image = d.image;
        return out;
    }
    out.image = QImage(fit, QImage::Format_RGB888);
    out.image.fill(Qt::white);
    DrawBicubic(d.image, out.image, QRect(QPoint(0, 0), fit));
    return out;
}

QImage CellFromPicture(const QImage& picture, QSize original) {
    QImage thumb = WhiteThumbnail();
    if (picture.isNull())
        return thumb;
    if (!original.isValid())
        original = picture.size();
    const ThumbPlacement p = PlaceInThumbnail(original.width(), original.height());
    DrawBicubic(picture, thumb, QRect(p.x, p.y, p.width, p.height));
    return thumb;
}
