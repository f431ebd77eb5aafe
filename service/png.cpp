#include "service/png.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace qumo_service {

namespace {

void Put32(std::string& out, uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void Chunk(std::string& out, const char* type, const std::string& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    std::string td = std::string(type, 4) + data;
    out += td;
    Put32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(td.data()),
                                           static_cast<uInt>(td.size()))));
}

const char kSignature[] = "\x89PNG\r\n\x1a\n";

int Paeth(int a, int b, int c) {
    int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

} // namespace

std::string EncodePng(const Image& img, int level) {
    std::string out(kSignature, 8);
    std::string ihdr;
    Put32(ihdr, static_cast<uint32_t>(img.width));
    Put32(ihdr, static_cast<uint32_t>(img.height));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB, no interlace
    Chunk(out, "IHDR", ihdr);
    size_t stride = static_cast<size_t>(img.width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((stride + 1) * img.height);
    for (int y = 0; y < img.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), img.rgb.begin() + y * stride, img.rgb.begin() + (y + 1) * stride);
    }
    uLongf cap = compressBound(static_cast<uLong>(raw.size()));
    std::string z(cap, '\0');
    if (compress2(reinterpret_cast<Bytef*>(z.data()), &cap, raw.data(),
                  static_cast<uLong>(raw.size()), level) != Z_OK)
        return std::string();
    z.resize(cap);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", std::string());
    return out;
}

bool DecodePng(const std::string& data, Image& out) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    if (n < 8 || std::memcmp(p, kSignature, 8) != 0)
        return false;
    size_t pos = 8;
    uint32_t w = 0, h = 0;
    int channels = 0;
    bool haveHeader = false;
    std::string idat;
    while (pos + 12 <= n) {
        uint32_t len = Get32(p + pos);
        if (len > n - pos - 12)
            return false;
        const char* type = reinterpret_cast<const char*>(p + pos + 4);
        const uint8_t* body = p + pos + 8;
        if (std::memcmp(type, "IHDR", 4) == 0 && len >= 13) {
            w = Get32(body);
            h = Get32(body + 4);
            int depth = body[8], color = body[9], interlace = body[12];
            if (depth != 8 || interlace != 0)
                return false;
            channels = color == 0 ? 1 : color == 2 ? 3 : color == 6 ? 4 : color == 4 ? 2 : 0;
            if (channels == 0 || w == 0 || h == 0 || static_cast<int64_t>(w) * h > kMaxDecodePixels)
                return false;
            haveHeader = true;
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            if (!haveHeader ||
                idat.size() + len > (static_cast<size_t>(w) * channels + 1) * h + (1 << 20))
                return false;
            idat.append(reinterpret_cast<const char*>(body), len);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        pos += 12 + len;
    }
    if (!haveHeader)
        return false;
    size_t stride = static_cast<size_t>(w) * channels;
    uLongf rawLen = static_cast<uLongf>((stride + 1) * h);
    std::vector<uint8_t> raw(rawLen);
    if (uncompress(raw.data(), &rawLen, reinterpret_cast<const Bytef*>(idat.data()),
                   static_cast<uLong>(idat.size())) != Z_OK ||
        rawLen != raw.size())
        return false;
    std::vector<uint8_t> prev(stride, 0), cur(stride);
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.rgb.assign(static_cast<size_t>(w) * h * 3, 0);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* line = raw.data() + y * (stride + 1);
        int filter = line[0];
        for (size_t x = 0; x < stride; ++x) {
            int a = x >= static_cast<size_t>(channels) ? cur[x - channels] : 0;
            int b = prev[x];
            int c = x >= static_cast<size_t>(channels) ? prev[x - channels] : 0;
            int v = line[1 + x];
            switch (filter) {
            case 0:
                break;
            case 1:
                v += a;
                break;
            case 2:
                v += b;
                break;
            case 3:
                v += (a + b) / 2;
                break;
            case 4:
                v += Paeth(a, b, c);
                break;
            default:
                return false;
            }
            cur[x] = static_cast<uint8_t>(v);
        }
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* d = &out.rgb[(static_cast<size_t>(y) * w + x) * 3];
            const uint8_t* s = &cur[x * channels];
            if (channels <= 2) {
                d[0] = d[1] = d[2] = s[0];
            } else {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
        }
        std::swap(prev, cur);
    }
    return true;
}

bool DecodeBmp(const std::string& data, Image& out) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    if (n < 54 || p[0] != 'B' || p[1] != 'M')
        return false;
    uint32_t offset = Le32(p + 10);
    int32_t w = static_cast<int32_t>(Le32(p + 18));
    int32_t h = static_cast<int32_t>(Le32(p + 22));
    int bpp = p[28] | (p[29] << 8);
    uint32_t compression = Le32(p + 30);
    if ((bpp != 24 && bpp != 32) || (compression != 0 && compression != 3) || w <= 0 || h == 0 ||
        h == INT32_MIN)
        return false;
    bool topDown = h < 0;
    int64_t ah = topDown ? -static_cast<int64_t>(h) : h;
    if (static_cast<int64_t>(w) * ah > kMaxDecodePixels)
        return false;
    size_t bytesPer = static_cast<size_t>(bpp / 8);
    size_t stride = (static_cast<size_t>(w) * bytesPer + 3) & ~size_t(3);
    if (offset > n || stride * static_cast<size_t>(ah) > n - offset)
        return false;
    out.width = w;
    out.height = static_cast<int>(ah);
    out.rgb.assign(static_cast<size_t>(w) * ah * 3, 0);
    for (int64_t y = 0; y < ah; ++y) {
        int64_t srcRow = topDown ? y : ah - 1 - y;
        const uint8_t* row = p + offset + srcRow * stride;
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* s = row + x * bytesPer;
            uint8_t* d = &out.rgb[(static_cast<size_t>(y) * w + x) * 3];
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    return true;
}

Image ScaleToFit(const Image& src, int maxSide) {
    int longer = std::max(src.width, src.height);
    if (longer <= maxSide || longer == 0)
        return src;
    Image dst;
    dst.width = std::max(1, static_cast<int>(static_cast<int64_t>(src.width) * maxSide / longer));
    dst.height = std::max(1, static_cast<int>(static_cast<int64_t>(src.height) * maxSide / longer));
    dst.rgb.resize(static_cast<size_t>(dst.width) * dst.height * 3);
    for (int y = 0; y < dst.height; ++y) {
        int y0 = static_cast<int>(static_cast<int64_t>(y) * src.height / dst.height);
        int y1 = std::max(y0 + 1,
                          static_cast<int>(static_cast<int64_t>(y + 1) * src.height / dst.height));
        for (int x = 0; x < dst.width; ++x) {
            int x0 = static_cast<int>(static_cast<int64_t>(x) * src.width / dst.width);
            int x1 = std::max(
                x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * src.width / dst.width));
            uint64_t sum[3] = {0, 0, 0};
            for (int yy = y0; yy < y1; ++yy) {
                for (int xx = x0; xx < x1; ++xx) {
                    const uint8_t* s = &src.rgb[(static_cast<size_t>(yy) * src.width + xx) * 3];
                    sum[0] += s[0];
                    sum[1] += s[1];
                    sum[2] += s[2];
                }
            }
            uint64_t cnt = static_cast<uint64_t>(y1 - y0) * (x1 - x0);
            uint8_t* d = &dst.rgb[(static_cast<size_t>(y) * dst.width + x) * 3];
            for (int k = 0; k < 3; ++k)
                d[k] = static_cast<uint8_t>(sum[k] / cnt);
        }
    }
    return dst;
}

} // namespace qumo_service
