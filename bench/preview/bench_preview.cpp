// bench_preview gen DIR N W H [U] makes N W x H photo-like JPEGs of mixed EXIF orientation
//                                 (U distinct pictures, the others hard links to them)
// bench_preview run DIR           the local preview of DIR: first screen, a jump, the whole
//                                 folder, memory above idle, a second visit; the batch worker
//                                 of one thread against the decoder pool with the desktop cache
// bench_preview server N          the first screen of a server folder of N pictures
#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "media/local_scan.h"
#include "media/preview_grid.h"
#include "media/show_local_img_thread.h"
#include "media/thumb_cache.h"
#include "media/thumb_loader.h"
#ifdef QUMO_BENCH_SERVER
#include "bench/preview/server_preview.h"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kScreen = 20; // a window of 5 columns and 4 rows
constexpr int kHeld = 400;  // cells the preview list keeps, as in the window

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

long RssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

QByteArray WithOrientation(const QByteArray& jpeg, int o) {
    QByteArray exif("\xFF\xE1\x00\x22"
                    "Exif\x00\x00"
                    "II\x2A\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00",
                    28);
    exif.append(static_cast<char>(o));
    exif.append(QByteArray(7, '\0'));
    return jpeg.left(2) + exif + jpeg.mid(2);
}

int Generate(const fs::path& dir, int n, int w, int h, int unique) {
    fs::create_directories(dir);
    const int orientations[] = {1, 6, 3, 8};
    if (unique <= 0 || unique > n)
        unique = n;
    unique = (unique + 3) / 4 * 4; // a link keeps its picture's orientation
    for (int i = 0; i < n; ++i) {
        fs::path file = dir / ("IMG_" + std::to_string(10000 + i) + ".jpg");
        if (fs::exists(file))
            continue;
        if (i >= unique) {
            std::error_code ec;
            fs::create_hard_link(dir / ("IMG_" + std::to_string(10000 + i % unique) + ".jpg"), file,
                                 ec);
            if (!ec)
                continue;
        }
        std::mt19937 rng(static_cast<unsigned>(i) * 7919u + 1u);
        std::uniform_int_distribution<int> u(0, 359);
        QImage img(w, h, QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, w, h);
        g.setColorAt(0, QColor::fromHsv(u(rng), 120, 200));
        g.setColorAt(1, QColor::fromHsv(u(rng), 160, 90));
        p.fillRect(img.rect(), g);
        p.setPen(Qt::NoPen);
        for (int k = 0; k < 30; ++k) {
            p.setBrush(QColor::fromHsv(u(rng), 150, 60 + u(rng) / 2));
            p.drawEllipse(QPointF(u(rng) * w / 360.0, u(rng) * h / 360.0), 20 + u(rng) * w / 900.0,
                          20 + u(rng) * h / 900.0);
        }
        p.end();
        QByteArray bytes;
        {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            img.save(&buffer, "JPEG", 88);
        }
        QFile out(QString::fromStdString(file.string()));
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(WithOrientation(bytes, orientations[i % 4])) < 0) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}

// Today's preview side: every image kept, as the list kept a pixmap per item.
class KeepAllSink : public IPreviewSink {
public:
    PreviewState state;
    std::vector<QImage> images;
    std::atomic<int> made{0};
    std::atomic<int> madeUpTo{-1};
    PreviewState& Preview() override { return state; }
    QSize OuterSize() override { return QSize(1280, 800); }
    void SetImageCount(int count) override { images.resize(static_cast<std::size_t>(count)); }
    void ReplaceImage(int index, const QImage& image) override {
        images[static_cast<std::size_t>(index)] = image;
        ++made;
        madeUpTo = index;
    }
    void RemoveAllImages() override { images.clear(); }
    void InsertItem(int, const std::u16string&, int) override {}
    void AttachRecord(int, const UpInfo&) override {}
    void SetItemPosition(int, QPoint) override {}
    void DeleteAllItems() override {}
    void FreeItemRecords() override {}
    void SetRedraw(bool) override {}
    void InvalidateList() override {}
};

// The pool's side: cells held in an LRU of the list's size.
struct HeldCells {
    std::mutex mu;
    std::list<int> order;
    std::unordered_map<int, std::pair<QImage, std::list<int>::iterator>> cells;
    std::atomic<int> made{0};
    void Put(int index, const QImage& cell) {
        std::lock_guard<std::mutex> lock(mu);
        auto it = cells.find(index);
        if (it != cells.end())
            order.erase(it->second.second);
        order.push_front(index);
        cells[index] = {cell, order.begin()};
        while (cells.size() > static_cast<std::size_t>(kHeld)) {
            cells.erase(order.back());
            order.pop_back();
        }
        ++made;
    }
    bool Has(int index) {
        std::lock_guard<std::mutex> lock(mu);
        return cells.count(index) != 0;
    }
};

template <class F> void WaitFor(F done) {
    while (!done())
        std::this_thread::sleep_for(std::chrono::microseconds(500));
}

int CountFiles(const fs::path& dir) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        ++n;
    return n;
}

struct Figures {
    double first = 0, jump = 0, whole = 0, second = 0, secondJump = 0;
    long memKb = 0;
};

Figures Today(const std::u16string& folder, const std::vector<std::u16string>& names, long idle) {
    Figures f;
    KeepAllSink sink;
    sink.state.folder = folder;
    sink.state.names = names;
    const int n = static_cast<int>(names.size());
    const int jumpEnd = std::min(n - 1, n / 2 + kScreen - 1);
    auto t0 = Clock::now();
    ShowLocalImgThread worker(sink);
    worker.Start();
    WaitFor([&] { return sink.madeUpTo >= std::min(n - 1, kScreen - 1); });
    f.first = Since(t0);
    // A jump to the middle right after the click: that screen waits for all before it.
    WaitFor([&] { return sink.madeUpTo >= jumpEnd; });
    f.jump = Since(t0);
    WaitFor([&] { return !worker.IsRunning(); });
    f.whole = Since(t0);
    f.memKb = RssKb() - idle;
    f.second = f.whole; // nothing is kept between visits
    return f;
}

double PoolPass(ThumbLoader& loader, HeldCells& held, int n,
                const std::vector<std::u16string>& files, double* first, double* jump) {
    auto t0 = Clock::now();
    loader.SetFiles(files, true);
    auto want = [&](int a) {
        int b = std::min(n - 1, a + kScreen - 1);
        loader.SetWanted(a, b, +1, [&](int i) { return held.Has(i); });
        WaitFor([&] {
            for (int i = a; i <= b; ++i)
                if (!held.Has(i))
                    return false;
            return true;
        });
    };
    want(0);
    if (first)
        *first = Since(t0);
    if (jump) {
        auto t1 = Clock::now();
        want(n / 2);
        *jump = Since(t1);
    }
    // The whole folder, as a user scrolling to the end would ask for it.
    for (int a = 0; a < n; a += kScreen)
        want(a);
    WaitFor([&] { return !loader.Busy(); });
    return Since(t0);
}

int Run(const fs::path& dir) {
    std::vector<std::u16string> names;
    const long idle = RssKb();
    auto t0 = Clock::now();
    if (!ListFolderMedia(dir.u16string().c_str(), names)) {
        std::fprintf(stderr, "no media in %s\n", dir.c_str());
        return 1;
    }
    const double listing = Since(t0);
    const int n = static_cast<int>(names.size());
    std::vector<std::u16string> files;
    for (const auto& name : names)
        files.push_back(PreviewFilePath(dir.u16string(), name));
    std::printf("listing %d files: %.3f s\n", n, listing);

    Figures today = Today(dir.u16string(), names, idle);

    Figures pool;
    const long idle2 = RssKb();
    long peak = 0;
    {
        HeldCells held;
        ThumbLoader loader([&](int, int index, const QImage& cell) { held.Put(index, cell); });
        std::printf("decoder pool: %d threads\n", loader.Threads());
        pool.whole = PoolPass(loader, held, n, files, &pool.first, &pool.jump);
        peak = RssKb() - idle2;
        // The decoders write the last cache entries once idle: the second visit finds them.
        const fs::path large = fs::path(thumbcache::LargeDir().toStdString());
        for (int i = 0; i < 600 && CountFiles(large) < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    pool.memKb = peak;
    // The second visit: the first screen drawn, and every file found in the cache (the
    // entries' heads read, nothing decoded); the cells come when their screens do.
    double secondFound = 0;
    ThumbLoader::CacheCount found;
    {
        HeldCells held;
        ThumbLoader loader([&](int, int index, const QImage& cell) { held.Put(index, cell); });
        auto t1 = Clock::now();
        loader.SetFiles(files, true);
        loader.SetWanted(0, std::min(n, kScreen) - 1, +1, [&](int i) { return held.Has(i); });
        WaitFor([&] {
            for (int i = 0; i < std::min(n, kScreen); ++i)
                if (!held.Has(i))
                    return false;
            found = loader.CacheChecked();
            return found.checked >= n;
        });
        secondFound = Since(t1);
    }
    {
        HeldCells held;
        ThumbLoader loader([&](int, int index, const QImage& cell) { held.Put(index, cell); });
        pool.second = PoolPass(loader, held, n, files, nullptr, &pool.secondJump);
    }
    auto line = [](const char* what, double a, double b, const char* goal) {
        std::printf("%-34s today %8.3f   now %8.3f   today/now %6.1fx   goal %s\n", what, a, b,
                    b > 0 ? a / b : 0.0, goal);
    };
    line("first screen (s, listing incl.)", today.first + listing, pool.first + listing,
         "<= 0.5 s");
    line("screen after a jump (s)", today.jump, pool.jump, "<= 0.5 s");
    line("whole folder (s)", today.whole, pool.whole, "");
    std::printf("%-34s today %8.3f   now %8.3f   today/now %6.1fx   goal <= 1 s for 10,000"
                " (goal/now %.1f); %d of %d found\n",
                "second visit, whole folder (s)", today.second, secondFound,
                secondFound > 0 ? today.second / secondFound : 0.0,
                secondFound > 0 ? (n / 10000.0) / secondFound : 0.0, found.held, n);
    line("second visit, every cell made (s)", today.second, pool.second, "");
    line("second visit, jump (s)", today.jump, pool.secondJump, "<= 0.5 s");
    std::printf("%-34s today %8.1f   now %8.1f   goal <= 150 MB\n", "memory above idle (MB)",
                today.memKb / 1024.0, pool.memKb / 1024.0);
    std::printf("RATES %d %.4f %.4f %.4f\n", n, today.whole, pool.whole, pool.second);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::strcmp(argv[1], "gen") == 0)
        return Generate(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                        argc >= 7 ? std::atoi(argv[6]) : 0);
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0)
        return Run(argv[2]);
#ifdef QUMO_BENCH_SERVER
    if (argc >= 3 && std::strcmp(argv[1], "server") == 0)
        return RunServer(std::atoi(argv[2]));
#endif
    std::fprintf(stderr, "usage: bench_preview gen DIR N W H [U] | run DIR | server N\n");
    return 2;
}
