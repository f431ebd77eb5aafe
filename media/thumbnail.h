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

// Decodes the picture file upright (its EXIF orientation applied) and draws it,
// bicubic-scaled, into a white 160 x 120 RGB image (24-bit). A missing or undecodable
// file gives an all-white thumbnail.
QImage MakeThumbnail(const std::u16string& path);

// A picture decoded for the preview and the desktop's thumbnail cache: upright, scaled
// down to fit a box with its shape kept, and the upright size of the whole picture.
struct Picture {
    QImage image; // null when the file could not be decoded
    QSize original;
};
// Decodes `path` into a picture fitting `box`. Files that are not regular files, larger
// than kMaxPictureBytes, or that would need more than kMaxDecodePixels decoded pixels give
// a null picture rather than a long or huge decode.
Picture LoadPicture(const std::u16string& path, QSize box);
inline constexpr long long kMaxPictureBytes = 256LL << 20;
inline constexpr long long kMaxDecodePixels = 40LL * 1000 * 1000;

// Qt's ceiling on any one decoded image, for pictures whose size their header does not
// tell. The ceiling is process-wide: it is set once, before any decoder thread starts
// (ThumbLoader does it), never from several threads at once.
inline constexpr int kDecodeAllocationLimitMb = 192;
void SetDecodeAllocationLimit();

// The 160 x 120 cell of a picture whose whole is `original` (invalid: the picture's own
// size), placed as MakeThumbnail places it.
QImage CellFromPicture(const QImage& picture, QSize original);

// An all-white thumbnail.
QImage WhiteThumbnail();
