// The 160 x 120 thumbnails of the preview grid, shared by the local preview and the
// server file listing.
#pragma once

#include <QImage>
#include <string>

inline constexpr int kThumbWidth = 160;
inline constexpr int kThumbHeight = 120;

// Where a w x h picture is drawn inside the thumbnail: scaled by the smaller of the two
// ratios (single precision) and centred along the other axis; every value truncated.
struct ThumbPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
ThumbPlacement PlaceInThumbnail(int w, int h);

// Decodes the picture file and draws it, bicubic-scaled, into a white 160 x 120 RGB
// image (24-bit). A missing or undecodable file gives an all-white thumbnail.
QImage MakeThumbnail(const std::u16string& path);

// An all-white thumbnail.
QImage WhiteThumbnail();
