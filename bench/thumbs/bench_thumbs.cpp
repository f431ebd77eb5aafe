// bench_thumbs gen DIR N      makes N 4000 x 3000 photo-like JPEGs in DIR (kept if present)
// bench_thumbs time DIR       makes a 160 x 120 thumbnail of every *.jpg in DIR, one thread
#include <QColor>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "media/thumbnail.h"

namespace fs = std::filesystem;

namespace {

// Smooth colour fields with shapes and sensor-like noise, so the files compress like
// photographs rather than like flat colour or pure noise.
QImage Photo(int seed) {
    const int w = 4000, h = 3000;
    std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + 1u);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    QImage img(w, h, QImage::Format_RGB32);
    float fx[3], fy[3], ph[3];
    for (int c = 0; c < 3; ++c) {
        fx[c] = 1.0f + 5.0f * u(rng);
        fy[c] = 1.0f + 5.0f * u(rng);
        ph[c] = 6.28f * u(rng);
    }
    std::normal_distribution<float> noise(0.0f, 4.0f);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        float ny = static_cast<float>(y) / h;
        for (int x = 0; x < w; ++x) {
            float nx = static_cast<float>(x) / w;
            int v[3];
            for (int c = 0; c < 3; ++c) {
                float s = 0.5f + 0.5f * std::sin(fx[c] * nx * 6.28f + ph[c]) *
                                     std::cos(fy[c] * ny * 6.28f + ph[c] * 0.5f);
                v[c] = std::clamp(static_cast<int>(s * 220.0f + 20.0f + noise(rng)), 0, 255);
            }
            line[x] = qRgb(v[0], v[1], v[2]);
        }
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        p.setBrush(QColor::fromHsv(static_cast<int>(u(rng) * 359),
                                   120 + static_cast<int>(u(rng) * 100),
                                   80 + static_cast<int>(u(rng) * 170)));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(u(rng) * w, u(rng) * h), 50 + u(rng) * 500, 50 + u(rng) * 400);
    }
    return img;
}

int Generate(const fs::path& dir, int n) {
    fs::create_directories(dir);
    for (int i = 0; i < n; ++i) {
        fs::path file = dir / ("photo" + std::to_string(1000 + i) + ".jpg");
        if (fs::exists(file))
            continue;
        if (!Photo(i).save(QString::fromStdString(file.string()), "JPEG", 90)) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}

int Time(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".jpg")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no photos in %s\n", dir.c_str());
        return 1;
    }
    unsigned long long check = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (const auto& f : files) {
        QImage t = MakeThumbnail(f.u16string());
        check += static_cast<unsigned long long>(qGray(t.pixel(80, 60)));
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%zu %.4f %llu\n", files.size(), secs, check);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "gen") == 0)
        return Generate(argv[2], std::atoi(argv[3]));
    if (argc >= 3 && std::strcmp(argv[1], "time") == 0)
        return Time(argv[2]);
    std::fprintf(stderr, "usage: bench_thumbs gen DIR N | time DIR\n");
    return 2;
}
