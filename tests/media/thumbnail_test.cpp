// Thumbnails: placement geometry on the pixels, every picture format, bad files.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "media/bicubic.h"
#include "media/thumbnail.h"

namespace fs = std::filesystem;

namespace {

class ThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qumo_thumb_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::u16string Path(const std::string& name) const { return (dir_ / name).u16string(); }

    std::u16string Solid(const std::string& name, int w, int h, QColor c, const char* fmt) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(c);
        EXPECT_TRUE(img.save(QString::fromStdString((dir_ / name).string()), fmt));
        return Path(name);
    }

    void WriteBytes(const std::string& name, const std::string& bytes) {
        std::ofstream f(dir_ / name, std::ios::binary);
        f << bytes;
    }

    fs::path dir_;
};

// Counts the pixels that differ from `inside` within `r` and from white outside it.
int Mismatches(const QImage& img, const QRect& r, QColor inside, int tolerance = 0) {
    int bad = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            QColor want = r.contains(x, y) ? inside : QColor(Qt::white);
            QColor got = img.pixelColor(x, y);
            if (std::abs(got.red() - want.red()) > tolerance ||
                std::abs(got.green() - want.green()) > tolerance ||
                std::abs(got.blue() - want.blue()) > tolerance)
                ++bad;
        }
    }
    return bad;
}

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
    return Be32(static_cast<uint32_t>(data.size())) + type + data + Be32(Crc32(type + data));
}

} // namespace

TEST(ThumbPlacement, FollowsTheSmallerRatioAndCentres) {
    auto p = PlaceInThumbnail(320, 120);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 30);
    EXPECT_EQ(p.width, 160);
    EXPECT_EQ(p.height, 60);

    p = PlaceInThumbnail(100, 300);
    EXPECT_EQ(p.x, 60);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 40);
    EXPECT_EQ(p.height, 120);

    p = PlaceInThumbnail(4000, 3000); // same shape as the thumbnail
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 160);
    EXPECT_EQ(p.height, 120);

    // A sliver too thin to cover a pixel is drawn nowhere.
    p = PlaceInThumbnail(20000, 1);
    EXPECT_EQ(p.height, 0);
    EXPECT_EQ(p.y, 59);

    p = PlaceInThumbnail(0, 10);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 0);
}

TEST_F(ThumbnailTest, WidePictureIsDrawnInTheMiddleBand) {
    QImage t = MakeThumbnail(Solid("wide.png", 320, 120, QColor(10, 20, 200), "PNG"));
    ASSERT_EQ(t.size(), QSize(160, 120));
    EXPECT_EQ(t.format(), QImage::Format_RGB888);
    EXPECT_EQ(Mismatches(t, QRect(0, 30, 160, 60), QColor(10, 20, 200)), 0);
}

TEST_F(ThumbnailTest, TallPictureIsDrawnInTheMiddleColumn) {
    QImage t = MakeThumbnail(Solid("tall.bmp", 100, 300, QColor(200, 0, 0), "BMP"));
    EXPECT_EQ(Mismatches(t, QRect(60, 0, 40, 120), QColor(200, 0, 0)), 0);
}

TEST_F(ThumbnailTest, GifIsDecodedAndEnlarged) {
    // A 1 x 1 GIF whose only pixel is red: enlarged to 120 x 120 at x 20.
    const char gif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                       ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
    WriteBytes("dot.gif", std::string(gif, sizeof(gif) - 1));
    QImage t = MakeThumbnail(Path("dot.gif"));
    EXPECT_EQ(Mismatches(t, QRect(20, 0, 120, 120), QColor(255, 0, 0)), 0);
}

TEST_F(ThumbnailTest, JpegDecodedAtReducedScaleKeepsItsHalves) {
    // Left half red, right half blue, large enough to be decoded at a reduced scale.
    QImage img(1600, 1200, QImage::Format_RGB32);
    img.fill(QColor(220, 30, 30));
    for (int y = 0; y < img.height(); ++y)
        for (int x = 800; x < 1600; ++x)
            img.setPixelColor(x, y, QColor(30, 30, 220));
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "halves.jpg").string()), "JPEG", 95));
    QImage t = MakeThumbnail(Path("halves.jpg"));
    ASSERT_EQ(t.size(), QSize(160, 120));
    // Away from the seam each half keeps its colour.
    EXPECT_EQ(Mismatches(t.copy(0, 0, 76, 120), QRect(0, 0, 76, 120), QColor(220, 30, 30), 8), 0);
    EXPECT_EQ(Mismatches(t.copy(84, 0, 76, 120), QRect(0, 0, 76, 120), QColor(30, 30, 220), 8), 0);
}

TEST_F(ThumbnailTest, UppercaseJpegExtensionAndResolutionAreKept) {
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(QColor(0, 128, 0));
    img.setDotsPerMeterX(3780);
    img.setDotsPerMeterY(7560);
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "p.PNG").string()), "PNG"));
    QImage t = MakeThumbnail(Path("p.PNG"));
    EXPECT_EQ(Mismatches(t, QRect(0, 0, 160, 120), QColor(0, 128, 0)), 0);
    EXPECT_EQ(t.dotsPerMeterX(), 3780);
    EXPECT_EQ(t.dotsPerMeterY(), 7560);
}

TEST_F(ThumbnailTest, TransparencyIsBlendedOverWhite) {
    QImage img(160, 120, QImage::Format_ARGB32);
    img.fill(QColor(0, 0, 0, 0));
    for (int y = 0; y < 120; ++y)
        for (int x = 80; x < 160; ++x)
            img.setPixelColor(x, y, QColor(0, 0, 0, 128)); // half-transparent black
    ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "alpha.png").string()), "PNG"));
    QImage t = MakeThumbnail(Path("alpha.png"));
    EXPECT_EQ(t.pixelColor(10, 60), QColor(Qt::white));
    QColor grey = t.pixelColor(150, 60);
    EXPECT_NEAR(grey.red(), 127, 1);
    EXPECT_EQ(grey.red(), grey.blue());
}

TEST_F(ThumbnailTest, BadFilesGiveWhite) {
    const QImage white = WhiteThumbnail();
    EXPECT_EQ(MakeThumbnail(Path("missing.jpg")), white);
    EXPECT_EQ(MakeThumbnail(u""), white);
    WriteBytes("empty.png", "");
    EXPECT_EQ(MakeThumbnail(Path("empty.png")), white);
    WriteBytes("junk.jpg", std::string(5000, '\x5a'));
    EXPECT_EQ(MakeThumbnail(Path("junk.jpg")), white);
    WriteBytes("clip.mp4", std::string("\0\0\0\x18"
                                       "ftypmp42",
                                       12) +
                               std::string(100, '\0'));
    EXPECT_EQ(MakeThumbnail(Path("clip.mp4")), white);
    fs::create_directories(dir_ / "folder.png");
    EXPECT_EQ(MakeThumbnail(Path("folder.png")), white);
}

TEST_F(ThumbnailTest, HugeDeclaredSizeIsRefusedNotAllocated) {
    // A PNG header claiming 60000 x 60000 pixels followed by rubbish.
    std::string ihdr = Be32(60000) + Be32(60000) + std::string("\x08\x02\x00\x00\x00", 5);
    std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) +
                      PngChunk("IDAT", std::string(64, '\x01')) + PngChunk("IEND", "");
    WriteBytes("bomb.png", png);
    EXPECT_EQ(MakeThumbnail(Path("bomb.png")), WhiteThumbnail());
}

TEST(Bicubic, ConstantStaysConstantAndClipsToTheTarget) {
    QImage src(7, 5, QImage::Format_RGB32);
    src.fill(QColor(90, 160, 30));
    QImage dst(20, 10, QImage::Format_RGB888);
    dst.fill(Qt::white);
    // Partly outside the destination: only the visible part is drawn.
    DrawBicubic(src, dst, QRect(15, -3, 30, 8));
    EXPECT_EQ(Mismatches(dst, QRect(15, 0, 5, 5), QColor(90, 160, 30)), 0);
}

TEST(Bicubic, EdgeBetweenColoursIsSmoothAndBounded) {
    QImage src(400, 1, QImage::Format_RGB32);
    for (int x = 0; x < 400; ++x)
        src.setPixelColor(x, 0, x < 200 ? QColor(0, 0, 0) : QColor(255, 255, 255));
    QImage dst(40, 1, QImage::Format_RGB888);
    dst.fill(Qt::white);
    DrawBicubic(src, dst, QRect(0, 0, 40, 1));
    EXPECT_EQ(dst.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(dst.pixelColor(39, 0), QColor(255, 255, 255));
    // The step lands between samples 19 and 20 and rises monotonically (no wrap-around).
    EXPECT_LT(dst.pixelColor(19, 0).red(), 128);
    EXPECT_GE(dst.pixelColor(20, 0).red(), 128);
    for (int x = 1; x < 40; ++x)
        EXPECT_GE(dst.pixelColor(x, 0).red() + 40, dst.pixelColor(x - 1, 0).red());
}
