// The local thumbnail worker: batches, the restart rule, placeholders and stopping.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QImage>
#include <chrono>
#include <filesystem>

#include "app/global_var.h"
#include "media/show_local_img_thread.h"
#include "media/thumbnail.h"
#include "platform/event.h"
#include "preview_fake.h"

namespace fs = std::filesystem;

namespace {

class LocalWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qumo_local_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "pics");
        sink_.state.folder = (dir_ / "pics").u16string();
        CGlobalVar::m_strInstallRoot = dir_.u16string() + u"/";
    }
    void TearDown() override {
        CGlobalVar::m_strInstallRoot.clear();
        fs::remove_all(dir_);
    }

    void Pictures(int n) {
        QImage img(8, 6, QImage::Format_RGB32);
        img.fill(QColor(0, 0, 255));
        for (int i = 0; i < n; ++i) {
            std::string name = "p" + std::to_string(100 + i) + ".png";
            ASSERT_TRUE(img.save(QString::fromStdString((dir_ / "pics" / name).string())));
            sink_.state.names.push_back(platform::FromNarrow(name));
        }
    }

    // The requests of one batch that is not restarted.
    void ExpectBatch(std::vector<std::string>& out, int first, int n, int columns) {
        out.push_back("count " + std::to_string(sink_.state.names.size()));
        out.push_back("redraw on");
        ExpectPlaced(out, sink_.state.names, first, n, columns, true);
    }

    fs::path dir_;
    FakePreview sink_;
};

} // namespace

TEST_F(LocalWorkerTest, FortyFivePicturesInBatchesOfTwenty) {
    Pictures(45);
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));

    std::vector<std::string> want;
    ExpectBatch(want, 0, 20, 3);
    ExpectBatch(want, 20, 20, 3);
    ExpectBatch(want, 40, 5, 3);
    want.push_back("invalidate");
    EXPECT_EQ(sink_.Events(), want);
    // Item 4 of a 650-pixel layout stands at (240, 200).
    EXPECT_NE(std::find(want.begin(), want.end(), "pos 4 240,200"), want.end());
    auto images = sink_.Images();
    ASSERT_EQ(images.size(), 45u);
    for (const auto& img : images) {
        ASSERT_EQ(img.size(), QSize(160, 120));
        EXPECT_EQ(img.pixelColor(80, 60), QColor(0, 0, 255));
    }
}

TEST_F(LocalWorkerTest, NarrowWindowStillHasOneColumn) {
    Pictures(3);
    sink_.outerWidth = 280 + 150; // layout width below one cell
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));
    std::vector<std::string> want;
    ExpectBatch(want, 0, 3, 1);
    want.push_back("invalidate");
    EXPECT_EQ(sink_.Events(), want);
}

TEST_F(LocalWorkerTest, EmptyListOnlyInvalidates) {
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));
    EXPECT_EQ(sink_.Events(), std::vector<std::string>{"invalidate"});
}

TEST_F(LocalWorkerTest, LargeResizeRestartsFromTheFirstName) {
    Pictures(25);
    bool resized = false;
    sink_.hook = [&](const std::string& e) {
        if (e.rfind("pos 19 ", 0) == 0 && !resized) {
            resized = true;
            sink_.outerWidth = 930 + 161; // layout 811: four columns
        }
    };
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));

    std::vector<std::string> want;
    ExpectBatch(want, 0, 20, 3);
    want.insert(want.end(), {"count 25", "free records", "delete items", "remove images"});
    ExpectBatch(want, 0, 20, 4);
    ExpectBatch(want, 20, 5, 4);
    want.push_back("invalidate");
    EXPECT_EQ(sink_.Events(), want);
}

TEST_F(LocalWorkerTest, SmallResizeKeepsTheRunningLayout) {
    Pictures(25);
    sink_.hook = [&](const std::string& e) {
        if (e.rfind("pos 19 ", 0) == 0)
            sink_.outerWidth = 930 + 160;
    };
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));
    std::vector<std::string> want;
    ExpectBatch(want, 0, 20, 3);
    ExpectBatch(want, 20, 5, 3);
    want.push_back("invalidate");
    EXPECT_EQ(sink_.Events(), want);
}

TEST_F(LocalWorkerTest, ShrinkingBelowOneCellDoesNotRestart) {
    Pictures(25);
    sink_.hook = [&](const std::string& e) {
        if (e.rfind("pos 19 ", 0) == 0)
            sink_.outerWidth = 280 + 199;
    };
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));
    std::vector<std::string> want;
    ExpectBatch(want, 0, 20, 3);
    ExpectBatch(want, 20, 5, 3);
    want.push_back("invalidate");
    EXPECT_EQ(sink_.Events(), want);
}

TEST_F(LocalWorkerTest, VideosShowThePlaceholderWhenTheSkinHasOne) {
    sink_.state.names = {u"clip.mp4", u"movie.MKV"};
    {
        ShowLocalImgThread worker(sink_);
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitEnded(worker, 20000));
    }
    for (const auto& img : sink_.Images())
        EXPECT_EQ(img, WhiteThumbnail());

    fs::create_directories(dir_ / "skin/blue/listview");
    QImage placeholder(160, 120, QImage::Format_RGB32);
    placeholder.fill(QColor(0, 200, 0));
    ASSERT_TRUE(
        placeholder.save(QString::fromStdString((dir_ / "skin/blue/listview/vidio.png").string())));
    FakePreview second;
    second.state = sink_.state;
    ShowLocalImgThread worker(second);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));
    auto images = second.Images();
    ASSERT_EQ(images.size(), 2u);
    for (const auto& img : images)
        EXPECT_EQ(img.pixelColor(3, 3), QColor(0, 200, 0));
}

TEST_F(LocalWorkerTest, StopDuringABatchEndsAtTheNextItem) {
    Pictures(45);
    // The worker is held inside the sixth image request until the stop is signalled, so
    // the stop is sure to arrive in the middle of the first batch.
    platform::EventHandle stopEvent = platform::EventHandle::Create(u"Global\\ShowLocalImgThread");
    std::atomic<bool> held{false};
    sink_.hook = [&](const std::string& e) {
        if (e == "image 5") {
            held = true;
            stopEvent.WaitFor(10000);
        }
    };
    ShowLocalImgThread worker(sink_);
    ASSERT_TRUE(worker.Start());
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!held && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(held);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(worker.Stop());
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_FALSE(worker.IsRunning());

    auto events = sink_.Events();
    std::vector<std::string> want;
    ExpectBatch(want, 0, 6, 3); // the held item is finished, nothing after it
    EXPECT_EQ(events, want);
}
