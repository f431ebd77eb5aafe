// Decoding uploaded pictures for thumbnails with bounded memory, whatever the file claims:
// only JPEG, PNG, GIF and BMP; a JPEG is decoded at reduced size (the decoder scales while
// it decodes); the other formats are decoded whole only when their pixels fit a budget; and
// only a few decodes run at a time, so many hostile pictures at once cost no more than two.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>

namespace qumo_service {

// Bytes one decode may take (the decoded pixels, as the format needs them).
constexpr int64_t kDecodeBudgetBytes = 48LL << 20;
// Decodes running at once; others wait their turn.
constexpr int kMaxDecodes = 2;

// The picture in `path` scaled to fit maxSide; false (nothing decoded) when it is not one of
// the four formats, is damaged, or would not fit the budget.
bool DecodeForThumbnail(const std::string& path, int maxSide, QImage& out);

} // namespace qumo_service
