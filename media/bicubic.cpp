#include "media/bicubic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Keys' cubic convolution kernel with a = -0.5 (the usual "bicubic").
float Cubic(float x) {
    constexpr float a = -0.5f;
    x = std::fabs(x);
    if (x < 1.0f)
        return ((a + 2.0f) * x - (a + 3.0f)) * x * x + 1.0f;
    if (x < 2.0f)
        return ((a * x - 5.0f * a) * x + 8.0f * a) * x - 4.0f * a;
    return 0.0f;
}

// The source taps and weights of every output sample along one axis.
struct Taps {
    int count = 0;          // taps per output sample
    std::vector<int> first; // first source index per output sample
    std::vector<float> w;   // count weights per output sample
};

Taps MakeTaps(int srcLen, int dstLen) {
    Taps t;
    float scale = static_cast<float>(srcLen) / static_cast<float>(dstLen);
    float stretch = std::max(1.0f, scale); // widen the kernel when reducing
    float support = 2.0f * stretch;
    t.count = static_cast<int>(std::ceil(support)) * 2 + 1;
    t.first.resize(dstLen);
    t.w.assign(static_cast<std::size_t>(dstLen) * t.count, 0.0f);
    for (int i = 0; i < dstLen; ++i) {
        float centre = (static_cast<float>(i) + 0.5f) * scale - 0.5f;
        int first = static_cast<int>(std::floor(centre - support)) + 1;
        t.first[i] = first;
        float* w = &t.w[static_cast<std::size_t>(i) * t.count];
        float sum = 0.0f;
        for (int k = 0; k < t.count; ++k) {
            w[k] = Cubic((static_cast<float>(first + k) - centre) / stretch);
            sum += w[k];
        }
        if (sum != 0.0f) {
            for (int k = 0; k < t.count; ++k)
                w[k] /= sum;
        }
    }
    return t;
}

inline int Clamp(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

inline uint8_t ToByte(float v) {
    v = std::round(v);
    return static_cast<uint8_t>(v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v));
}

} // namespace

void DrawBicubic(const QImage& srcIn, QImage& dst, const QRect& rect) {
    if (srcIn.isNull() || dst.isNull() || rect.width() <= 0 || rect.height() <= 0)
        return;
    if (dst.format() != QImage::Format_RGB888)
        dst = dst.convertToFormat(QImage::Format_RGB888);
    bool alpha = srcIn.hasAlphaChannel();
    QImage src =
        srcIn.convertToFormat(alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (src.isNull())
        return;
    const int sw = src.width(), sh = src.height();
    const int dw = rect.width(), dh = rect.height();
    Taps tx = MakeTaps(sw, dw);
    Taps ty = MakeTaps(sh, dh);

    // The taps of each output column that weigh anything, with their source column
    // clamped once: the same sums in the same order as walking every tap.
    std::vector<int> hStart(static_cast<std::size_t>(dw) + 1, 0);
    std::vector<int> hIndex;
    std::vector<float> hWeight;
    for (int x = 0; x < dw; ++x) {
        const float* w = &tx.w[static_cast<std::size_t>(x) * tx.count];
        for (int k = 0; k < tx.count; ++k) {
            if (w[k] == 0.0f)
                continue;
            hIndex.push_back(Clamp(tx.first[x] + k, 0, sw - 1));
            hWeight.push_back(w[k]);
        }
        hStart[static_cast<std::size_t>(x) + 1] = static_cast<int>(hIndex.size());
    }

    // Horizontal pass: every source row to dw samples of four channels (B, G, R, A), from
    // the row's channels turned into floats once.
    std::vector<float> mid(static_cast<std::size_t>(sh) * dw * 4);
    std::vector<float> rowF(static_cast<std::size_t>(sw) * 4);
    for (int y = 0; y < sh; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < sw; ++x) {
            const QRgb p = row[x];
            float* c = &rowF[static_cast<std::size_t>(x) * 4];
            c[0] = static_cast<float>(qBlue(p));
            c[1] = static_cast<float>(qGreen(p));
            c[2] = static_cast<float>(qRed(p));
            c[3] = static_cast<float>(alpha ? qAlpha(p) : 255);
        }
        float* out = &mid[static_cast<std::size_t>(y) * dw * 4];
        for (int x = 0; x < dw; ++x) {
            float b = 0, g = 0, r = 0, a = 0;
            for (int t = hStart[static_cast<std::size_t>(x)];
                 t < hStart[static_cast<std::size_t>(x) + 1]; ++t) {
                const float wk = hWeight[static_cast<std::size_t>(t)];
                const float* c =
                    &rowF[static_cast<std::size_t>(hIndex[static_cast<std::size_t>(t)]) * 4];
                b += wk * c[0];
                g += wk * c[1];
                r += wk * c[2];
                a += wk * c[3];
            }
            out[x * 4 + 0] = b;
            out[x * 4 + 1] = g;
            out[x * 4 + 2] = r;
            out[x * 4 + 3] = a;
        }
    }

    // Vertical pass into the destination, blending premultiplied colour over it.
    std::vector<float> acc(static_cast<std::size_t>(dw) * 4);
    for (int y = 0; y < dh; ++y) {
        int dy = rect.y() + y;
        if (dy < 0 || dy >= dst.height())
            continue;
        std::fill(acc.begin(), acc.end(), 0.0f);
        const float* w = &ty.w[static_cast<std::size_t>(y) * ty.count];
        int first = ty.first[y];
        for (int k = 0; k < ty.count; ++k) {
            if (w[k] == 0.0f)
                continue;
            const float* in = &mid[static_cast<std::size_t>(Clamp(first + k, 0, sh - 1)) * dw * 4];
            for (int i = 0; i < dw * 4; ++i)
                acc[i] += w[k] * in[i];
        }
        uchar* line = dst.scanLine(dy);
        for (int x = 0; x < dw; ++x) {
            int dx = rect.x() + x;
            if (dx < 0 || dx >= dst.width())
                continue;
            float a = std::clamp(acc[x * 4 + 3], 0.0f, 255.0f);
            float keep = 1.0f - a / 255.0f;
            uchar* px = line + dx * 3;
            px[0] = ToByte(acc[x * 4 + 2] + keep * px[0]);
            px[1] = ToByte(acc[x * 4 + 1] + keep * px[1]);
            px[2] = ToByte(acc[x * 4 + 0] + keep * px[2]);
        }
    }
}
