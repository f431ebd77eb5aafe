// Bicubic resampling of our own, used for thumbnails.
#pragma once

#include <QImage>
#include <QRect>

// Draws `src` scaled into `rect` of `dst` (Format_RGB888) with a bicubic filter whose
// support widens with the reduction, so large reductions do not alias. Transparent
// parts of `src` are blended over what `dst` holds. Parts of `rect` outside `dst` are
// clipped.
void DrawBicubic(const QImage& src, QImage& dst, const QRect& rect);
