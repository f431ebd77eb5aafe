#include "ui/skin/skin_font.h"

QStringList SkinFallbackFamilies() {
    // Chinese-capable faces that Debian ships (fonts-wqy-microhei, fonts-noto-cjk), then the
    // generic family, which fontconfig resolves to whatever is installed.
    return {QStringLiteral("Microsoft YaHei"),   QStringLiteral("WenQuanYi Micro Hei"),
            QStringLiteral("Noto Sans CJK SC"),  QStringLiteral("Noto Sans SC"),
            QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Droid Sans Fallback"),
            QStringLiteral("DejaVu Sans"),       QStringLiteral("sans-serif")};
}

QFont SkinFont(const QString& face, int pixelSize, int weight) {
    QStringList families;
    if (!face.isEmpty()) {
        families << face;
        // "宋体" is the Windows name of SimSun; keep it before the sans fallbacks.
        if (face == QStringLiteral("宋体")) {
            families << QStringLiteral("SimSun") << QStringLiteral("AR PL UMing CN")
                     << QStringLiteral("Noto Serif CJK SC");
        }
    }
    families << SkinFallbackFamilies();
    families.removeDuplicates();
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize > 0 ? pixelSize : 12);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
