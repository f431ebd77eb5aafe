// The preview's cell maker: order of work, the desktop's thumbnail cache, upright photos,
// video frames and hostile files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QColor>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <chrono>
#include <ctime>
#include <mutex>
#include <thread>

#include "media/file_name.h"
#include "media/thumb_cache.h"
#include "media/thumb_loader.h"
#include "media/video_frame.h"
#include "video_fixture.h"

namespace {

class CellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        qputenv("XDG_CACHE_HOME", (dir_.path() + "/cache").toUtf8());
    }
    void TearDown() override { qunsetenv("XDG_CACHE_HOME"); }

    QString Path(const QString& name) const { return dir_.path() + "/" + name; }
    static std::u16string U(const QString& s) { return s.toStdU16String(); }
    static QImage Solid(int w, int h, QColor c) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(c);
        return img;
    }
    static void WriteBytes(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QImage Cell(const QString& path, bool cache = true) {
        return ThumbLoader::MakeCell(path.toStdU16String(), cache, {}, {});
    }
    static bool Near(QColor a, QColor b, int tol = 40) {
        return std::abs(a.red() - b.red()) <= tol && std::abs(a.green() - b.green()) <= tol &&
               std::abs(a.blue() - b.blue()) <= tol;
    }

    QTemporaryDir dir_;
};

// A JPEG with an EXIF orientation tag: an APP1 segment right after the start marker.
QByteArray WithOrientation(const QByteArray& jpeg, int orientation) {
    QByteArray exif("\xFF\xE1\x00\x22"
                    "Exif\x00\x00"
                    "II\x2A\x00\x08\x00\x00\x00"
                    "\x01\x00"
                    "\x12\x01\x03\x00\x01\x00\x00\x00",
                    4 + 6 + 8 + 2 + 8);
    exif.append(static_cast<char>(orientation));
    exif.append(QByteArray("\x00\x00\x00\x00\x00\x00\x00", 7));
    return jpeg.left(2) + exif + jpeg.mid(2);
}

QByteArray JpegBytes(const QImage& img) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "JPEG", 95);
    return bytes;
}

} // namespace

TEST(ThumbLoaderOrder, VisibleFirstThenAheadThenBehindAndWorkersFollowIt) {
    std::vector<int> want;
    for (int i = 100; i <= 119; ++i)
        want.push_back(i);
    for (int i = 120; i < 160; ++i)
        want.push_back(i);
    for (int i = 99; i >= 80; --i)
        want.push_back(i);
    EXPECT_EQ(ThumbLoader::WorkOrder(1000, 100, 119, +1), want);
    // Scrolling up reads ahead upward; the ends of the list bound everything.
    auto up = ThumbLoader::WorkOrder(130, 100, 119, -1);
    EXPECT_EQ(std::vector<int>(up.begin() + 20, up.begin() + 23), (std::vector<int>{99, 98, 97}));
    EXPECT_EQ(up.back(), 129);
    EXPECT_EQ(up.size(), 20u + 40u + 10u);

    // One worker makes exactly those, in that order, skipping what is held already.
    std::mutex mu;
    std::vector<int> made;
    ThumbLoader loader(
        [&](int, int index, const QImage& cell) {
            EXPECT_EQ(cell.size(), QSize(160, 120));
            std::lock_guard<std::mutex> lock(mu);
            made.push_back(index);
        },
        1);
    std::vector<std::u16string> files(1000, u"/nonexistent/picture.jpg");
    loader.SetFiles(files, false);
    loader.SetWanted(100, 119, +1, [](int i) { return i == 105; });
    for (int k = 0; k < 2000 && loader.Busy(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(loader.Busy());
    want.erase(std::find(want.begin(), want.end(), 105));
    {
        std::lock_guard<std::mutex> lock(mu);
        EXPECT_EQ(made, want);
    }

    // Idle, the decoders sleep until there is work: the process burns (almost) no CPU.
    auto cpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
    };
    const double before = cpu();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(cpu() - before, 60.0) << "CPU milliseconds while idle";
}

TEST_F(CellTest, DesktopCacheIsUsedWrittenAndInvalidated) {
    const QString photo = Path("photo.jpg");
    ASSERT_TRUE(Solid(400, 300, Qt::red).save(photo, "JPEG", 95));
    EXPECT_TRUE(Near(Cell(photo).pixelColor(80, 60), Qt::red));

    // The entry the standard names, with the file's URI and time.
    const QString entry = thumbcache::EntryPath(photo);
    EXPECT_TRUE(entry.startsWith(dir_.path() + "/cache/thumbnails/large/"));
    const QImage stored(entry);
    EXPECT_EQ(stored.text("Thumb::URI"), "file://" + photo);
    EXPECT_EQ(stored.text("Thumb::MTime"),
              QString::number(QFileInfo(photo).lastModified().toSecsSinceEpoch()));
    EXPECT_EQ(stored.size(), QSize(256, 192));
    EXPECT_EQ(QFile::permissions(entry) & (QFile::ReadOther | QFile::ReadGroup), 0);
    EXPECT_TRUE(thumbcache::Holds(photo)); // from the texts at the entry's head

    // A hit: an entry of the desktop's for this file is drawn as it is.
    QImage desktops = Solid(256, 192, Qt::blue);
    for (const QString& key : stored.textKeys())
        desktops.setText(key, stored.text(key));
    ASSERT_TRUE(desktops.save(entry, "PNG"));
    EXPECT_TRUE(Near(Cell(photo).pixelColor(80, 60), Qt::blue));

    // The file changes: the entry no longer counts and is written anew.
    ASSERT_TRUE(Solid(400, 300, Qt::green).save(photo, "JPEG", 95));
    QFile f(photo);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_FALSE(thumbcache::Holds(photo));
    EXPECT_TRUE(Near(Cell(photo).pixelColor(80, 60), Qt::green));
    EXPECT_TRUE(Near(QImage(entry).pixelColor(100, 100), Qt::green));

    // Corrupt bytes, or an entry naming another file: ignored and replaced.
    WriteBytes(entry, QByteArray("\x89PNG\r\n\x1a\n garbage", 17));
    EXPECT_TRUE(Near(Cell(photo).pixelColor(80, 60), Qt::green));
    QImage foreign = Solid(256, 192, Qt::blue);
    foreign.setText("Thumb::URI", "file:///somewhere/else.jpg");
    foreign.setText("Thumb::MTime", QImage(entry).text("Thumb::MTime"));
    ASSERT_TRUE(foreign.save(entry, "PNG"));
    EXPECT_FALSE(thumbcache::Holds(photo));
    EXPECT_TRUE(Near(Cell(photo).pixelColor(80, 60), Qt::green));
    EXPECT_EQ(QImage(entry).text("Thumb::URI"), "file://" + photo);

    // Without the desktop cache nothing is written; files inside the cache get no entry.
    const QString other = Path("other.png");
    ASSERT_TRUE(Solid(40, 30, Qt::red).save(other));
    Cell(other, false);
    EXPECT_FALSE(QFile::exists(thumbcache::EntryPath(other)));
    Cell(entry);
    EXPECT_FALSE(QFile::exists(thumbcache::EntryPath(entry)));
}

// A name with an emoji, URL special characters or a lone surrogate: the file is found, and
// its entry is named by the URI of the bytes on disk, as any other program of the desktop
// names it.
TEST_F(CellTest, NamesBeyondTheBmpFindTheirFileAndTheStandardsEntry) {
    const std::string folder = QFile::encodeName(dir_.path()).toStdString();
    const std::u16string base = platform::FromNarrow(folder);
    const char16_t lone[] = {u'b', 0xDF0A, u'.', u'j', u'p', u'g'};
    const std::pair<std::u16string, std::string> names[] = {
        {u"海边🌊 #%.jpg", "%E6%B5%B7%E8%BE%B9%F0%9F%8C%8A%20%23%25.jpg"},
        {std::u16string(lone, 6), "b%F4%8F%BC%8A.jpg"},
    };
    for (const auto& [name, encoded] : names) {
        const std::u16string path = base + u"/" + name;
        const QString file = media::QtFileName(path);
        ASSERT_EQ(QFile::encodeName(file).toStdString(), platform::ToNarrow(path));
        ASSERT_TRUE(Solid(400, 300, Qt::red).save(file, "JPEG", 95));
        EXPECT_TRUE(Near(ThumbLoader::MakeCell(path, true, {}, {}).pixelColor(80, 60), Qt::red));
        const QByteArray uri = QByteArray::fromStdString("file://" + folder + "/" + encoded);
        const QString entry = thumbcache::EntryPath(file);
        EXPECT_TRUE(entry.endsWith(
            QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
            ".png"));
        EXPECT_EQ(QImage(entry).text("Thumb::URI").toUtf8(), uri);
    }
}

TEST_F(CellTest, EveryExifOrientationComesOutUpright) {
    // Upright: 60 x 40, red top left, green top right, blue bottom left, yellow bottom right.
    const int w = 60, h = 40;
    auto upright = [&](int x, int y) -> QColor {
        if (y < h / 2)
            return x < w / 2 ? QColor(Qt::red) : QColor(Qt::green);
        return x < w / 2 ? QColor(Qt::blue) : QColor(Qt::yellow);
    };
    for (int o = 1; o <= 8; ++o) {
        const bool transposed = o >= 5;
        QImage stored(transposed ? h : w, transposed ? w : h, QImage::Format_RGB32);
        // Stored pixel (x, y) is the upright pixel the orientation tag maps it to.
        for (int y = 0; y < stored.height(); ++y) {
            for (int x = 0; x < stored.width(); ++x) {
                int ux = x, uy = y;
                switch (o) {
                case 2:
                    ux = w - 1 - x;
                    break;
                case 3:
                    ux = w - 1 - x;
                    uy = h - 1 - y;
                    break;
                case 4:
                    uy = h - 1 - y;
                    break;
                case 5:
                    ux = y;
                    uy = x;
                    break;
                case 6:
                    ux = w - 1 - y;
                    uy = x;
                    break;
                case 7:
                    ux = w - 1 - y;
                    uy = h - 1 - x;
                    break;
                case 8:
                    ux = y;
                    uy = h - 1 - x;
                    break;
                default:
                    break;
                }
                stored.setPixelColor(x, y, upright(ux, uy));
            }
        }
        const QString file = Path(QString("o%1.jpg").arg(o));
        WriteBytes(file, WithOrientation(JpegBytes(stored), o));
        // 60 x 40 fills the width: 160 x 106 at y = 7.
        const QImage cell = Cell(file);
        EXPECT_TRUE(Near(cell.pixelColor(40, 30), Qt::red)) << o;
        EXPECT_TRUE(Near(cell.pixelColor(120, 30), Qt::green)) << o;
        EXPECT_TRUE(Near(cell.pixelColor(40, 90), Qt::blue)) << o;
        EXPECT_TRUE(Near(cell.pixelColor(120, 90), Qt::yellow)) << o;
        EXPECT_EQ(cell.pixelColor(80, 2), QColor(Qt::white)) << o;
        EXPECT_TRUE(Near(MakeThumbnail(U(file)).pixelColor(40, 30), Qt::red)) << o;
    }
}

TEST_F(CellTest, VideoFrameALittleIntoTheVideo) {
    // Three seconds at 10 frames a second: black for the first 0.2 s, then orange.
    const QString clip = Path("clip.mp4");
    ASSERT_TRUE(WriteTestVideo(clip.toStdString(), 64, 48, 30, 2, QColor(255, 128, 0)));
    Picture pic = VideoFramePicture(U(clip), QSize(256, 256), 5000, {});
    ASSERT_FALSE(pic.image.isNull());
    EXPECT_EQ(pic.original, QSize(64, 48));
    EXPECT_TRUE(Near(pic.image.pixelColor(32, 24), QColor(255, 128, 0), 50));
    EXPECT_TRUE(Near(Cell(clip).pixelColor(80, 60), QColor(255, 128, 0), 50));
    EXPECT_TRUE(QFile::exists(thumbcache::EntryPath(clip)));
    // A stop asked for ends the work at once, with nothing.
    EXPECT_TRUE(
        VideoFramePicture(U(clip), QSize(256, 256), 5000, [] { return true; }).image.isNull());
}

TEST_F(CellTest, HostileFilesGiveThePlaceholderQuickly) {
    const QImage white = WhiteThumbnail();
    // A small JPEG whose header claims 30000 x 30000.
    QByteArray big = JpegBytes(Solid(16, 16, Qt::red));
    const int sof = big.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    big[sof + 5] = big[sof + 7] = static_cast<char>(30000 >> 8);
    big[sof + 6] = big[sof + 8] = static_cast<char>(30000 & 0xFF);
    WriteBytes(Path("huge.jpg"), big);
    // A PNG claiming the same.
    QByteArray png;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        Solid(16, 16, Qt::red).save(&b, "PNG");
    }
    png.replace(16, 8, QByteArray("\x00\x00\x75\x30\x00\x00\x75\x30", 8));
    WriteBytes(Path("huge.png"), png);
    // Broken EXIF: an IFD claiming 65535 entries far beyond the segment.
    QByteArray exif = WithOrientation(JpegBytes(Solid(32, 24, Qt::red)), 6);
    exif[20] = exif[21] = static_cast<char>(0xFF);
    WriteBytes(Path("badexif.jpg"), exif);
    // A JPEG that never ends: a header, then megabytes of scan data without an end marker.
    QByteArray endless = JpegBytes(Solid(64, 64, Qt::red));
    endless.chop(2);
    endless.append(QByteArray(4 << 20, '\x55'));
    WriteBytes(Path("endless.jpg"), endless);
    // A pipe named like a photo would block a reader for ever.
    ASSERT_EQ(::mkfifo(Path("pipe.jpg").toLocal8Bit().constData(), 0600), 0);
    // Videos: empty, random bytes, a truncated real one.
    WriteBytes(Path("empty.mp4"), {});
    WriteBytes(Path("noise.mkv"), QByteArray(200000, '\x3c'));
    ASSERT_TRUE(WriteTestVideo(Path("cut.mp4").toStdString(), 64, 48, 30, 0, Qt::red));
    QFile cut(Path("cut.mp4"));
    ASSERT_TRUE(cut.resize(cut.size() / 3));

    for (const char* name : {"huge.jpg", "huge.png", "badexif.jpg", "endless.jpg", "pipe.jpg",
                             "empty.mp4", "noise.mkv", "cut.mp4"}) {
        EXPECT_EQ(Cell(Path(name)).size(), QSize(160, 120)) << name;
    }
    EXPECT_EQ(Cell(Path("huge.png")), white);
    EXPECT_EQ(Cell(Path("pipe.jpg")), white);
    EXPECT_EQ(Cell(Path("empty.mp4")), white);
    EXPECT_EQ(Cell(Path("noise.mkv")), white);
    // The EXIF is ignored, the picture itself is still shown.
    EXPECT_TRUE(Near(Cell(Path("badexif.jpg")).pixelColor(80, 60), Qt::red));
    // A video with nothing to show takes the skin's placeholder when there is one.
    const QString placeholder = Path("vidio.png");
    ASSERT_TRUE(Solid(160, 120, Qt::green).save(placeholder));
    EXPECT_TRUE(Near(
        ThumbLoader::MakeCell(U(Path("noise.mkv")), true, U(placeholder), {}).pixelColor(80, 60),
        Qt::green));
}
