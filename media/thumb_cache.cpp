#include "media/thumb_cache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QUrl>

namespace thumbcache {

namespace {

// An entry bigger than this is not one of ours nor a sane one.
constexpr qint64 kMaxEntryBytes = 4 << 20;

QString CacheHome() {
    const QString xdg = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.cache");
}

QString Absolute(const QString& file) {
    return QFileInfo(file).absoluteFilePath();
}

QString MTimeText(const QFileInfo& info) {
    return QString::number(info.lastModified().toSecsSinceEpoch());
}

} // namespace

QString LargeDir() {
    return CacheHome() + QStringLiteral("/thumbnails/large");
}

QByteArray FileUri(const QString& file) {
    return QUrl::fromLocalFile(Absolute(file)).toEncoded();
}

QString EntryPath(const QString& file) {
    const QByteArray md5 = QCryptographicHash::hash(FileUri(file), QCryptographicHash::Md5);
    return LargeDir() + QLatin1Char('/') + QString::fromLatin1(md5.toHex()) +
           QStringLiteral(".png");
}

bool IsInsideCache(const QString& file) {
    const QString root = QDir::cleanPath(CacheHome() + QStringLiteral("/thumbnails")) + '/';
    return QDir::cleanPath(Absolute(file)).startsWith(root);
}

Picture Load(const QString& file) {
    Picture out;
    const QFileInfo source(file);
    if (!source.isFile() || IsInsideCache(file))
        return out;
    const QString entry = EntryPath(file);
    const QFileInfo info(entry);
    if (!info.isFile() || info.size() > kMaxEntryBytes)
        return out;
    QImageReader reader(entry, "png");
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > 2 * kLargeSize || size.height() > 2 * kLargeSize)
        return out;
    // Qt splits the keys before the read at their first ':'; the image has them whole.
    QImage image = reader.read();
    if (image.isNull())
        return out;
    // An entry counts only while it names this file as it is now.
    if (image.text(QStringLiteral("Thumb::URI")).toUtf8() != FileUri(file) ||
        image.text(QStringLiteral("Thumb::MTime")) != MTimeText(source))
        return out;
    const QString bytes = image.text(QStringLiteral("Thumb::Size"));
    if (!bytes.isEmpty() && bytes != QString::number(source.size()))
        return out;
    const int w = image.text(QStringLiteral("Thumb::Image::Width")).toInt();
    const int h = image.text(QStringLiteral("Thumb::Image::Height")).toInt();
    out.original = w > 0 && h > 0 ? QSize(w, h) : image.size();
    out.image = std::move(image);
    return out;
}

bool Store(const QString& file, const Picture& picture) {
    const QFileInfo source(file);
    if (picture.image.isNull() || !source.isFile() || IsInsideCache(file))
        return false;
    if (!QDir().mkpath(LargeDir()))
        return false;
    QFile::setPermissions(LargeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QImage image = picture.image;
    image.setText(QStringLiteral("Thumb::URI"), QString::fromUtf8(FileUri(file)));
    image.setText(QStringLiteral("Thumb::MTime"), MTimeText(source));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(source.size()));
    if (picture.original.isValid()) {
        image.setText(QStringLiteral("Thumb::Image::Width"),
                      QString::number(picture.original.width()));
        image.setText(QStringLiteral("Thumb::Image::Height"),
                      QString::number(picture.original.height()));
    }
    image.setText(QStringLiteral("Software"), QStringLiteral("QumoClient"));
    QSaveFile out(EntryPath(file));
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QImageWriter writer(&out, "png");
    writer.setQuality(80); // a light zlib level: the entries are written while browsing
    if (!writer.write(image)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace thumbcache
