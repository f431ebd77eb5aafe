// Fonts for skinned windows. The program names Windows faces ("宋体", "Arial"); where the
// face is missing, Qt falls back glyph by glyph through the list built here, so Chinese
// text always finds a CJK font when one is installed.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

// The faces tried after `face`, CJK ones first.
QStringList SkinFallbackFamilies();

// A font of `pixelSize` pixels with `face` first and the fallbacks after it.
QFont SkinFont(const QString& face, int pixelSize, int weight = QFont::Normal);
