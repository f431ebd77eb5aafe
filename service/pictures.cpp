#include "service/pictures.h"

#include "service/picture_decode.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace qumo_service {

namespace {

struct Rgb {
    uint8_t r, g, b;
};

Rgb Hue(uint32_t seed, int shift) {
    uint32_t h = seed * 2654435761u + static_cast<uint32_t>(shift) * 40503u;
    return {static_cast<uint8_t>(64 + (h & 0x7F)), static_cast<uint8_t>(64 + ((h >> 8) & 0x7F)),
            static_cast<uint8_t>(64 + ((h >> 16) & 0x7F))};
}

void Set(QImage& img, int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height())
        return;
    reinterpret_cast<QRgb*>(img.scanLine(y))[x] = qRgb(c.r, c.g, c.b);
}

QImage Blank(int w, int h) {
    QImage img(std::max(1, w), std::max(1, h), QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

bool Exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

} // namespace

uint32_t SeedFromSha1(const std::string& sha1) {
    uint32_t s = 2166136261u;
    for (char c : sha1)
        s = (s ^ static_cast<uint8_t>(c)) * 16777619u;
    return s;
}

QImage GeneratedPicture(int width, int height, uint32_t seed) {
    QImage img = Blank(width, height);
    const int w = img.width(), h = img.height();
    Rgb top = Hue(seed, 1), bottom = Hue(seed, 2), disc = Hue(seed, 3);
    for (int y = 0; y < h; ++y) {
        int t = h > 1 ? y * 255 / (h - 1) : 0;
        Rgb c{static_cast<uint8_t>((top.r * (255 - t) + bottom.r * t) / 255),
              static_cast<uint8_t>((top.g * (255 - t) + bottom.g * t) / 255),
              static_cast<uint8_t>((top.b * (255 - t) + bottom.b * t) / 255)};
        for (int x = 0; x < w; ++x)
            Set(img, x, y, c);
    }
    // A sun and a row of hills, placed by the seed, so every picture looks different.
    int r = std::max(2, std::min(w, h) / 6);
    int cx = static_cast<int>(seed % 1000) * w / 1000;
    int cy = h / 4 + static_cast<int>((seed >> 10) % 100) * h / 400;
    for (int y = cy - r; y <= cy + r; ++y)
        for (int x = cx - r; x <= cx + r; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                Set(img, x, y, disc);
    Rgb hill = Hue(seed, 4);
    double phase = (seed >> 16) % 628 / 100.0;
    for (int x = 0; x < w; ++x) {
        double v = std::sin(x * 6.28318 * 2 / std::max(1, w) + phase);
        int crest = h * 2 / 3 + static_cast<int>(v * h / 10);
        for (int y = std::max(0, crest); y < h; ++y)
            Set(img, x, y, hill);
    }
    return img;
}

QImage VideoPlaceholder(int width, int height, uint32_t seed) {
    QImage img = GeneratedPicture(width, height, seed);
    Rgb black{20, 20, 20}, white{240, 240, 240};
    int band = std::max(4, img.height() / 8);
    for (int y = 0; y < img.height(); ++y) {
        if (y >= band && y < img.height() - band)
            continue;
        for (int x = 0; x < img.width(); ++x) {
            bool hole = (x / band) % 2 == 0 && (y % band) > band / 4 && (y % band) < band * 3 / 4;
            Set(img, x, y, hole ? white : black);
        }
    }
    // A "play" triangle in the middle.
    int cx = img.width() / 2, cy = img.height() / 2, s = std::max(3, img.height() / 5);
    for (int y = -s; y <= s; ++y)
        for (int x = 0; x <= s * 2 - std::abs(y) * 2; ++x)
            Set(img, cx - s + x, cy + y, white);
    return img;
}

QImage AvatarPicture(int side, uint32_t seed) {
    QImage img = Blank(side, side);
    Rgb bg = Hue(seed, 7), face{250, 220, 180}, eye{40, 40, 40};
    int c = side / 2, r = side * 2 / 5;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            int d = (x - c) * (x - c) + (y - c) * (y - c);
            Set(img, x, y, d <= r * r ? face : bg);
        }
    int er = std::max(1, side / 16);
    for (int ex : {c - r / 2, c + r / 2})
        for (int y = -er; y <= er; ++y)
            for (int x = -er; x <= er; ++x)
                if (x * x + y * y <= er * er)
                    Set(img, ex + x, c - r / 4 + y, eye);
    for (int x = -r / 2; x <= r / 2; ++x) {
        int y = c + r / 3 + (r / 2 * r / 2 - x * x) * r / 6 / std::max(1, r * r / 4);
        for (int t = 0; t < std::max(1, side / 40); ++t)
            Set(img, c + x, y + t, eye);
    }
    return img;
}

std::string EncodePng(const QImage& img) {
    if (img.isNull())
        return std::string();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(80); // light compression: these are made often and kept small anyway
    if (!writer.write(img))
        return std::string();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QImage ScaleToFit(const QImage& src, int maxSide) {
    if (src.isNull() || std::max(src.width(), src.height()) <= maxSide)
        return src;
    return src.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool MakePicturesFor(const BlobStore& store, const std::string& sha1, bool isVideo) {
    std::string small = store.PicturePath(sha1, 's'), large = store.PicturePath(sha1, 'l');
    if (Exists(small) && Exists(large))
        return true;
    QImage src;
    if (!isVideo && DecodeForThumbnail(store.BlobPath(sha1), kLargeSide, src)) {
        // Transparent parts show on white, as in a browser.
        if (src.hasAlphaChannel()) {
            QImage flat(src.size(), QImage::Format_RGB32);
            flat.fill(Qt::white);
            QPainter p(&flat);
            p.drawImage(0, 0, src);
            p.end();
            src = flat;
        }
        return WritePictures(store, sha1, src);
    }
    // Videos, and files that are no picture we can decode, share one placeholder per kind,
    // encoded once.
    static std::once_flag once;
    static std::string placeholder[2][2]; // [video][large]
    std::call_once(once, [] {
        for (int v = 0; v < 2; ++v) {
            QImage img = v ? VideoPlaceholder(640, 480, 2012) : GeneratedPicture(640, 480, 1982);
            placeholder[v][0] = EncodePng(ScaleToFit(img, kSmallSide));
            placeholder[v][1] = EncodePng(img);
        }
    });
    const std::string* p = placeholder[isVideo ? 1 : 0];
    return !p[0].empty() && !p[1].empty() && store.WriteFileAtomic(small, p[0], false) &&
           store.WriteFileAtomic(large, p[1], false);
}

bool WritePictures(const BlobStore& store, const std::string& sha1, const QImage& src) {
    std::string smallPng = EncodePng(ScaleToFit(src, kSmallSide));
    std::string largePng = EncodePng(ScaleToFit(src, kLargeSide));
    if (smallPng.empty() || largePng.empty())
        return false;
    return store.WriteFileAtomic(store.PicturePath(sha1, 's'), smallPng, false) &&
           store.WriteFileAtomic(store.PicturePath(sha1, 'l'), largePng, false);
}

} // namespace qumo_service
