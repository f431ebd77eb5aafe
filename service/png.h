// A minimal PNG writer (8-bit RGB) and reader (8-bit gray/RGB/RGBA, not interlaced), and a
// reader for uncompressed 24- and 32-bit BMP files. Enough to make pictures of pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qumo_service {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb; // width * height * 3, rows top to bottom
};

// Largest picture the service decodes (pixels); larger ones get a generated picture instead.
constexpr int64_t kMaxDecodePixels = 40LL * 1000 * 1000;

std::string EncodePng(const Image& img, int level = 1);
bool DecodePng(const std::string& data, Image& out);
bool DecodeBmp(const std::string& data, Image& out);

// Box-filtered scale so that the longer side is at most maxSide (never enlarges).
Image ScaleToFit(const Image& src, int maxSide);

} // namespace qumo_service
