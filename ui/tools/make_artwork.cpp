// Draws the blue skin's pictures and the program's bitmaps. Run by scripts/make-artwork;
// the results are committed, so the build never needs this program.
//   qumo_artwork <repository root>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kBlue(47, 128, 208);
const QColor kBlueDark(36, 104, 176);
const QColor kGreen(46, 170, 92);
const QColor kRed(220, 72, 64);

QImage Canvas(int w, int h, QColor fill = Qt::transparent) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

bool Save(const QImage& image, const QString& path, const char* format = nullptr) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool ok = image.save(path, format, format && QByteArray(format) == "JPG" ? 92 : -1);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// The program's mark: a rounded blue square with white hills under a sun, for 岚 (mist over
// the mountains).
QImage Logo(int size) {
    QImage image = Canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(72, 160, 236));
    g.setColorAt(1, kBlueDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, s, s), s * 0.22, s * 0.22);
    p.setBrush(QColor(255, 214, 102));
    p.drawEllipse(QPointF(s * 0.70, s * 0.32), s * 0.11, s * 0.11);
    QPainterPath back;
    back.moveTo(s * 0.10, s * 0.80);
    back.lineTo(s * 0.38, s * 0.40);
    back.lineTo(s * 0.56, s * 0.62);
    back.lineTo(s * 0.66, s * 0.52);
    back.lineTo(s * 0.90, s * 0.80);
    back.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawPath(back);
    QPainterPath mist;
    mist.moveTo(s * 0.14, s * 0.72);
    mist.cubicTo(s * 0.35, s * 0.66, s * 0.55, s * 0.78, s * 0.86, s * 0.70);
    p.setPen(QPen(QColor(47, 128, 208, 160), s * 0.04, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mist);
    return image;
}

QImage Avatar(int size) {
    QImage image = Canvas(size, size, QColor(226, 236, 246));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(160, 184, 208));
    const qreal s = size;
    p.drawEllipse(QPointF(s * 0.5, s * 0.38), s * 0.18, s * 0.18);
    p.drawEllipse(QRectF(s * 0.18, s * 0.62, s * 0.64, s * 0.60));
    return image;
}

// The column header: white fading to a light blue-grey, a hairline at the bottom and a
// divider at the right end, which the three-part drawing keeps on every column's right edge.
QImage HeaderBackground() {
    QImage image = Canvas(60, 30);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 30);
    g.setColorAt(0, QColor(252, 253, 254));
    g.setColorAt(1, QColor(232, 238, 244));
    p.fillRect(image.rect(), g);
    p.setPen(QColor(207, 217, 227));
    p.drawLine(0, 29, 59, 29);
    p.setPen(QColor(214, 223, 232));
    p.drawLine(59, 6, 59, 23);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(58, 6, 58, 23);
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage VideoPlaceholder() {
    QImage image = Canvas(160, 120);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 120);
    g.setColorAt(0, QColor(70, 86, 104));
    g.setColorAt(1, QColor(44, 56, 70));
    p.fillRect(image.rect(), g);
    // Film holes along both edges.
    p.setBrush(QColor(255, 255, 255, 60));
    p.setPen(Qt::NoPen);
    for (int y = 6; y < 120; y += 14) {
        p.drawRoundedRect(QRectF(4, y, 8, 7), 1.5, 1.5);
        p.drawRoundedRect(QRectF(148, y, 8, 7), 1.5, 1.5);
    }
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(QPointF(80, 60), 24, 24);
    QPainterPath play;
    play.moveTo(72, 47);
    play.lineTo(72, 73);
    play.lineTo(94, 60);
    play.closeSubpath();
    p.setBrush(QColor(44, 56, 70));
    p.drawPath(play);
    return image;
}

enum class Sign { Play, Pause, Cross };

QImage RowButton(QColor colour, Sign sign) {
    QImage image = Canvas(14, 14);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(0.5, 0.5, 13, 13));
    p.setBrush(Qt::white);
    switch (sign) {
    case Sign::Play: {
        QPainterPath path;
        path.moveTo(5.2, 3.8);
        path.lineTo(5.2, 10.2);
        path.lineTo(10.4, 7);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Sign::Pause:
        p.drawRect(QRectF(4.3, 4, 2, 6));
        p.drawRect(QRectF(7.7, 4, 2, 6));
        break;
    case Sign::Cross:
        p.setPen(QPen(Qt::white, 1.7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4.5, 4.5), QPointF(9.5, 9.5));
        p.drawLine(QPointF(4.5, 9.5), QPointF(9.5, 4.5));
        break;
    }
    return image;
}

QImage UploadButton() {
    QImage image = Canvas(64, 28);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient g(0, 0, 0, 28);
    g.setColorAt(0, QColor(64, 150, 230));
    g.setColorAt(1, kBlueDark);
    p.setPen(QPen(QColor(28, 90, 156), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 63, 27), 5, 5);
    // The upward arrow.
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(15, 20), QPointF(15, 8));
    p.drawPolyline(QPolygonF({QPointF(10.5, 12.5), QPointF(15, 8), QPointF(19.5, 12.5)}));
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("sans-serif")});
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(24, 0, 38, 28), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("上传"));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qumo_artwork <repository root>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString skin = root + QStringLiteral("/skin/blue/");
    bool ok = true;
    ok &= Save(Logo(64), skin + "common/logo.png");
    ok &= Save(Logo(128), root + "/res/qumo.png");
    ok &= Save(Avatar(100).convertToFormat(QImage::Format_RGB32),
               skin + "topuserinfo/selfimage_default.jpg", "JPG");
    ok &= Save(HeaderBackground(), skin + "listview/headerctrl.bmp", "BMP");
    ok &= Save(VideoPlaceholder(), skin + "listview/vidio.png");
    ok &= Save(RowButton(kGreen, Sign::Play), root + "/res/btn_resume.png");
    ok &= Save(RowButton(kRed, Sign::Cross), root + "/res/btn_cancel.png");
    ok &= Save(RowButton(kGreen, Sign::Pause), root + "/res/btn_pause.png");
    ok &= Save(UploadButton(), root + "/res/btn_upload_float.png");
    return ok ? 0 : 1;
}
