#include "media/thumb_cache.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QUrl>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace thumbcache {

namespace {

// An entry bigger than this is not one of ours nor a sane one.
constexpr qint64 kMaxEntryBytes = 4 << 20;
// The text chunks are looked for in this much of an entry's beginning: writers put them
// before the picture data, a few hundred bytes in.
constexpr std::size_t kHeadBytes = 16 << 10;
// A compressed text longer than this (unpacked) is no URI of ours.
constexpr std::size_t kMaxTextBytes = 8 << 10;

// The file's state as stat() sees it; worker threads call this, so no Qt file objects.
struct FileState {
    bool regular = false;
    long long size = 0;
    long long mtime = 0; // seconds
};

bool StatFile(const QString& file, FileState& out) {
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return false;
    out.regular = S_ISREG(st.st_mode);
    out.size = static_cast<long long>(st.st_size);
    out.mtime = static_cast<long long>(st.st_mtim.tv_sec);
    return true;
}

QString CacheHome() {
    const QString xdg = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.cache");
}

QString Absolute(const QString& file) {
    if (QDir::isAbsolutePath(file))
        return QDir::cleanPath(file);
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + file);
}

QByteArray UriOfAbsolute(const QString& absolute) {
    return QUrl::fromLocalFile(absolute).toEncoded();
}

QString EntryOfUri(const QByteArray& uri) {
    const QByteArray md5 = QCryptographicHash::hash(uri, QCryptographicHash::Md5);
    return LargeDir() + QLatin1Char('/') + QString::fromLatin1(md5.toHex()) +
           QStringLiteral(".png");
}

quint32 BigEndian32(const unsigned char* p) {
    return (quint32{p[0]} << 24) | (quint32{p[1]} << 16) | (quint32{p[2]} << 8) | quint32{p[3]};
}

// Unpacks a zTXt value into at most kMaxTextBytes; false when it does not fit or is broken.
bool Inflate(const unsigned char* in, std::size_t size, QByteArray& out) {
    out.resize(static_cast<qsizetype>(kMaxTextBytes));
    uLongf length = static_cast<uLongf>(kMaxTextBytes);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length, in, static_cast<uLong>(size)) !=
        Z_OK)
        return false;
    out.resize(static_cast<qsizetype>(length));
    return true;
}

// What the head of an entry says about itself.
struct Head {
    bool png = false;
    QSize size;
    QByteArray uri, mtime, bytes; // empty when not found before the picture data
};

// Walks the chunks of a PNG head up to its first picture data, reading the picture size
// and the Thumb:: texts (plain or compressed). Every length is checked against the bytes
// there are.
Head ReadHead(const unsigned char* p, std::size_t n) {
    Head h;
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (n < 8 + 8 + 13 || std::memcmp(p, kSignature, 8) != 0)
        return h;
    std::size_t at = 8;
    while (at + 8 <= n) {
        const quint32 length = BigEndian32(p + at);
        const unsigned char* type = p + at + 4;
        const unsigned char* data = p + at + 8;
        if (length > n - at - 8)
            break; // the rest lies beyond the head
        if (std::memcmp(type, "IHDR", 4) == 0 && length >= 8) {
            h.png = true;
            h.size = QSize(static_cast<int>(std::min<quint32>(BigEndian32(data), 1 << 20)),
                           static_cast<int>(std::min<quint32>(BigEndian32(data + 4), 1 << 20)));
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            break;
        } else if (std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "zTXt", 4) == 0) {
            const void* nul = std::memchr(data, 0, length);
            if (nul) {
                const auto keyLength =
                    static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - data);
                const QByteArray key(reinterpret_cast<const char*>(data),
                                     static_cast<qsizetype>(keyLength));
                const unsigned char* value = data + keyLength + 1;
                std::size_t valueLength = length - keyLength - 1;
                QByteArray text;
                if (type[0] == 't') {
                    text = QByteArray(reinterpret_cast<const char*>(value),
                                      static_cast<qsizetype>(valueLength));
                } else if (valueLength >= 1 && value[0] == 0) { // method 0: zlib
                    if (!Inflate(value + 1, valueLength - 1, text))
                        text.clear();
                }
                if (key == "Thumb::URI")
                    h.uri = text;
                else if (key == "Thumb::MTime")
                    h.mtime = text;
                else if (key == "Thumb::Size")
                    h.bytes = text;
            }
        }
        at += 8 + std::size_t{length} + 4; // data and CRC
    }
    return h;
}

// Reads the whole of a regular file of at most kMaxEntryBytes; empty when it is not one.
QByteArray ReadEntry(const QString& entry, std::size_t limit) {
    QByteArray bytes;
    const int fd = ::open(QFile::encodeName(entry).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        st.st_size <= kMaxEntryBytes) {
        const auto want = std::min<std::size_t>(static_cast<std::size_t>(st.st_size), limit);
        bytes.resize(static_cast<qsizetype>(want));
        std::size_t got = 0;
        while (got < want) {
            const ssize_t r = ::read(fd, bytes.data() + got, want - got);
            if (r <= 0)
                break;
            got += static_cast<std::size_t>(r);
        }
        bytes.resize(static_cast<qsizetype>(got));
    }
    ::close(fd);
    return bytes;
}

// The verdict of an entry's head on the source as it is now.
enum class Verdict { Hit, Miss, Unsure };

Verdict Judge(const Head& h, const QByteArray& uri, const FileState& source) {
    if (!h.png || !h.size.isValid() || h.size.width() > 2 * kLargeSize ||
        h.size.height() > 2 * kLargeSize)
        return Verdict::Miss;
    if (h.uri.isEmpty() || h.mtime.isEmpty())
        return Verdict::Unsure; // texts after the picture data: the full read decides
    if (h.uri != uri || h.mtime != QByteArray::number(source.mtime) ||
        (!h.bytes.isEmpty() && h.bytes != QByteArray::number(source.size)))
        return Verdict::Miss;
    return Verdict::Hit;
}

} // namespace

QString LargeDir() {
    return CacheHome() + QStringLiteral("/thumbnails/large");
}

QByteArray FileUri(const QString& file) {
    return UriOfAbsolute(Absolute(file));
}

QString EntryPath(const QString& file) {
    return EntryOfUri(FileUri(file));
}

bool IsInsideCache(const QString& file) {
    const QString root = QDir::cleanPath(CacheHome() + QStringLiteral("/thumbnails")) + '/';
    return Absolute(file).startsWith(root);
}

bool Holds(const QString& file) {
    FileState source;
    if (!StatFile(file, source) || !source.regular || IsInsideCache(file))
        return false;
    const QByteArray uri = FileUri(file);
    const QByteArray head = ReadEntry(EntryOfUri(uri), kHeadBytes);
    const Head h = ReadHead(reinterpret_cast<const unsigned char*>(head.constData()), head.size());
    return Judge(h, uri, source) != Verdict::Miss;
}

Picture Load(const QString& file) {
    Picture out;
    FileState source;
    if (!StatFile(file, source) || !source.regular || IsInsideCache(file))
        return out;
    const QByteArray uri = FileUri(file);
    QByteArray bytes = ReadEntry(EntryOfUri(uri), kMaxEntryBytes);
    // The texts are read before any pixel: a stale or foreign entry costs no decode.
    const Verdict verdict =
        Judge(ReadHead(reinterpret_cast<const unsigned char*>(bytes.constData()),
                       std::min<std::size_t>(static_cast<std::size_t>(bytes.size()), kHeadBytes)),
              uri, source);
    if (verdict == Verdict::Miss)
        return out;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    // Qt splits the keys before the read at their first ':'; the image has them whole.
    QImage image = reader.read();
    if (image.isNull())
        return out;
    if (verdict == Verdict::Unsure &&
        (image.text(QStringLiteral("Thumb::URI")).toUtf8() != uri ||
         image.text(QStringLiteral("Thumb::MTime")) != QString::number(source.mtime)))
        return out;
    const QString size = image.text(QStringLiteral("Thumb::Size"));
    if (!size.isEmpty() && size != QString::number(source.size))
        return out;
    const int w = image.text(QStringLiteral("Thumb::Image::Width")).toInt();
    const int h = image.text(QStringLiteral("Thumb::Image::Height")).toInt();
    out.original = w > 0 && h > 0 ? QSize(w, h) : image.size();
    out.image = std::move(image);
    return out;
}

bool Store(const QString& file, const Picture& picture) {
    FileState source;
    if (picture.image.isNull() || !StatFile(file, source) || !source.regular || IsInsideCache(file))
        return false;
    if (!QDir().mkpath(LargeDir()))
        return false;
    QFile::setPermissions(LargeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QImage image = picture.image;
    const QByteArray uri = FileUri(file);
    image.setText(QStringLiteral("Thumb::URI"), QString::fromUtf8(uri));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(source.mtime));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(source.size));
    if (picture.original.isValid()) {
        image.setText(QStringLiteral("Thumb::Image::Width"),
                      QString::number(picture.original.width()));
        image.setText(QStringLiteral("Thumb::Image::Height"),
                      QString::number(picture.original.height()));
    }
    image.setText(QStringLiteral("Software"), QStringLiteral("QumoClient"));
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(80); // a light zlib level: the entries are written while browsing
        if (!writer.write(image))
            return false;
    }
    // A temporary file renamed over the entry, so that no reader sees half of one. No
    // sync: an entry lost to a crash is only made again, and a sync per entry would cost
    // more than making it.
    const QByteArray entry = QFile::encodeName(EntryOfUri(uri));
    QByteArray temp = entry + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC); // mode 0600
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(png.size())) {
        const ssize_t w =
            ::write(fd, png.constData() + done, static_cast<std::size_t>(png.size()) - done);
        if (w <= 0)
            break;
        done += static_cast<std::size_t>(w);
    }
    const bool written = ::close(fd) == 0 && done == static_cast<std::size_t>(png.size());
    if (!written || ::rename(temp.constData(), entry.constData()) != 0) {
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

} // namespace thumbcache
