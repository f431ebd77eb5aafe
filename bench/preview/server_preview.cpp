// bench_preview server N: the first screen of a server folder of N pictures in a local
// qumo-service, on loopback: the listing worker of before (every picture downloaded and
// decoded in listing order on its own thread) against the one that downloads what the
// preview shows first and hands the files to the decoder pool.
#include "bench/preview/server_preview.h"

#include <QBuffer>
#include <QImage>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "app/app_settings.h"
#include "app/global_var.h"
#include "media/thumb_loader.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "serverdir/file_download_thread.h"
#include "tests/service/service_client.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kScreen = 20;

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The preview of the window, reduced to what the listing asks of it. `own`: items show
// at once and their pictures come from the decoder pool, for what is on screen first.
class BenchSink : public IPreviewSink, public IControlTextSink {
public:
    explicit BenchSink(bool own) : m_own(own) {
        if (own)
            m_loader = std::make_unique<ThumbLoader>(
                [this](int, int index, const QImage&) { Made(index); });
        if (m_loader)
            m_loader->SetFiles({}, false);
    }
    ~BenchSink() override { m_loader.reset(); }

    bool ScreenDone() {
        std::lock_guard<std::mutex> lock(m_mu);
        return static_cast<int>(m_made.size()) >= kScreen;
    }

    PreviewState& Preview() override { return m_state; }
    QSize OuterSize() override { return QSize(1280, 800); }
    void SetImageCount(int) override {}
    void ReplaceImage(int index, const QImage&) override { Made(index); }
    void RemoveAllImages() override {}
    void InsertItem(int, const std::u16string&, int) override {}
    void AttachRecord(int, const UpInfo&) override {}
    void SetItemPosition(int, QPoint) override {}
    void DeleteAllItems() override {}
    void FreeItemRecords() override {}
    void SetRedraw(bool) override {}
    void InvalidateList() override {}
    bool MakesOwnThumbnails() const override { return m_own; }
    void SetItemFile(int index, const std::u16string& file) override {
        m_loader->SetFile(index, file);
        m_loader->SetWanted(0, kScreen - 1, 1, [this](int i) {
            std::lock_guard<std::mutex> lock(m_mu);
            return m_made.count(i) != 0;
        });
    }
    int LastWantedItem() override { return kScreen - 1; }
    void SetControlText(const char16_t*, const std::u16string&) override {}

private:
    void Made(int index) {
        std::lock_guard<std::mutex> lock(m_mu);
        if (index < kScreen)
            m_made.insert(index);
    }

    const bool m_own;
    PreviewState m_state;
    std::mutex m_mu;
    std::set<int> m_made;
    std::unique_ptr<ThumbLoader> m_loader;
};

std::string SmallJpeg(int i) {
    QImage img(320, 240, QImage::Format_RGB32);
    img.fill(QColor::fromHsv((i * 37) % 360, 140, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "JPEG", 85);
    return bytes.toStdString();
}

// The time until the first screen's thumbnails are made.
double FirstScreen(bool own, const fs::path& cacheDir) {
    fs::remove_all(cacheDir);
    fs::create_directories(cacheDir);
    BenchSink sink(own);
    FileDownLoadThread worker(sink, sink, 0, platform::FromNarrow(cacheDir.string()));
    const auto t0 = Clock::now();
    worker.Start();
    for (int i = 0; i < 60000 && !sink.ScreenDone(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    const double t = Since(t0);
    worker.Stop();
    return sink.ScreenDone() ? t : -1;
}

} // namespace

int RunServer(int n) {
    const fs::path root =
        fs::temp_directory_path() / ("bench_preview_server_" + std::to_string(::getpid()));
    fs::create_directories(root / "bin" / "log");
    CGlobalVar::m_strInstallRoot = platform::FromNarrow(root.string()) + u"/";
    ServiceProcess svc;
    if (!svc.Start()) {
        std::fprintf(stderr, "qumo-service did not start: %s\n", svc.Error().c_str());
        return 1;
    }
    const std::string form = "mobile=bench&nick=bench&password=bench123&password2=bench123";
    RawResponse answer;
    Login me;
    if (!RawExchange(svc.ApiPort(),
                     "POST /user/register HTTP/1.1\r\nContent-Type: "
                     "application/x-www-form-urlencoded\r\nContent-Length: " +
                         std::to_string(form.size()) + "\r\n\r\n" + form,
                     answer) ||
        !LogIn(svc, "bench", "bench123", me)) {
        std::fprintf(stderr, "no account in the service\n");
        return 1;
    }
    std::vector<std::string> pictures;
    for (int i = 0; i < 16; ++i)
        pictures.push_back(SmallJpeg(i));
    const auto s0 = Clock::now();
    // Each upload waits mostly on the loopback round trips: several at once.
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> uploaders;
    for (int t = 0; t < 8; ++t)
        uploaders.emplace_back([&] {
            for (int i = next++; i < n && !failed; i = next++) {
                char name[32];
                std::snprintf(name, sizeof name, "S_%05d.jpg", i);
                // Each file its own bytes, so the service keeps each one.
                std::string bytes = pictures[static_cast<std::size_t>(i) % pictures.size()];
                bytes += std::to_string(i);
                if (UploadWhole(svc, me, 0, name, bytes) <= 0)
                    failed = true;
            }
        });
    for (std::thread& t : uploaders)
        t.join();
    if (failed) {
        std::fprintf(stderr, "an upload failed\n");
        return 1;
    }
    std::printf("server folder: %d pictures of 320 x 240 uploaded in %.1f s\n", n, Since(s0));

    hosts::SetAllServiceHosts(svc.ApiHost());
    GetAppSettings().SetUserInfo(me.uid.c_str(), me.token.c_str(), "", "", 0, 1);
    const double before = FirstScreen(false, root / "before");
    const double now = FirstScreen(true, root / "now");
    std::printf("%-34s today %8.3f   now %8.3f   today/now %6.1fx   goal <= 1 s (goal/now %.1f)\n",
                "server first screen (s)", before, now, now > 0 ? before / now : 0.0,
                now > 0 ? 1.0 / now : 0.0);
    svc.Stop();
    fs::remove_all(root);
    return 0;
}
