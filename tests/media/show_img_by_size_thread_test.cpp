// The re-layout worker: batches of thirty, record matching, restart and stop.
#include <gtest/gtest.h>

#include <chrono>

#include "media/preview_grid.h"
#include "media/show_img_by_size_thread.h"
#include "platform/event.h"
#include "preview_fake.h"

namespace {

UpInfo Record(const char16_t* name, const char16_t* ext, const char16_t* id) {
    UpInfo r;
    r.m_nFileType = 88;
    r.m_strFileName = name;
    CopyToFixed(r.m_tcExt, ext);
    CopyToFixed(r.m_tcVid, id);
    return r;
}

const std::vector<std::string> kClearing = {"free records", "redraw off", "delete items",
                                            "redraw on", "invalidate"};

void Names(FakePreview& sink, int n) {
    for (int i = 0; i < n; ++i)
        sink.state.names.push_back(u"f" + platform::FromNarrow(std::to_string(i)) + u".jpg");
}

} // namespace

TEST(Grid, ColumnsPositionsAndRestartRule) {
    EXPECT_EQ(GridColumns(650), 3);
    EXPECT_EQ(GridPosition(4, 3), QPoint(240, 200));
    EXPECT_EQ(GridColumns(199), 1);
    EXPECT_EQ(GridColumns(0), 1);
    EXPECT_EQ(GridColumns(-280), 1);
    EXPECT_EQ(GridPosition(2, 0), QPoint(40, 360)); // never divides by zero
    EXPECT_EQ(LayoutWidthOf(930), 650);

    EXPECT_FALSE(LayoutNeedsRestart(650, 810));
    EXPECT_TRUE(LayoutNeedsRestart(650, 811));
    EXPECT_TRUE(LayoutNeedsRestart(650, 489));
    EXPECT_FALSE(LayoutNeedsRestart(650, 490));
    EXPECT_FALSE(LayoutNeedsRestart(650, 199)); // too narrow to count
    EXPECT_TRUE(LayoutNeedsRestart(-280, 200)); // any width counts the first time
}

TEST(Grid, DisplayNamesAndCaseInsensitiveSearch) {
    std::vector<UpInfo> recs = {Record(u"dir", u"", u"1"), Record(u"holiday", u"jpg", u"2"),
                                Record(u"a.png", u"png", u"3"), Record(u"Ärger", u"GIF", u"4"),
                                Record(u"holiday", u"jpg", u"5")};
    EXPECT_EQ(DisplayName(recs[1]), u"holiday.jpg");
    EXPECT_EQ(DisplayName(recs[2]), u"a.png");
    EXPECT_EQ(FindRecordByName(recs, 0, u"HOLIDAY.JPG"), 1);
    EXPECT_EQ(FindRecordByName(recs, 2, u"holiday.jpg"), 4);
    EXPECT_EQ(FindRecordByName(recs, 0, u"ärger.gif"), 3);
    EXPECT_EQ(FindRecordByName(recs, 0, u"a.png.png"), -1);
    EXPECT_EQ(FindRecordByName(recs, 9, u"a.png"), -1);
}

TEST(ShowImgBySize, LaysOutAgainInBatchesOfThirtyWithRecords) {
    FakePreview sink;
    Names(sink, 35);
    sink.state.names[31] = u"Holiday.JPG";
    sink.state.records = {Record(u"sub", u"", u"900"), Record(u"holiday", u"jpg", u"901"),
                          Record(u"f2.jpg", u"jpg", u"902")};
    sink.outerWidth = 280 + 1000; // five columns
    ShowImgBySizeThread worker(sink);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));

    std::vector<std::string> want = kClearing;
    std::vector<std::string> batch;
    for (int first : {0, 30}) {
        want.push_back("count 35");
        want.push_back("redraw on");
        batch.clear();
        ExpectPlaced(batch, sink.state.names, first, first == 0 ? 30 : 5, 5, false);
        for (const auto& e : batch) {
            want.push_back(e);
            if (e.rfind("insert 2 ", 0) == 0)
                want.push_back("attach 2 902");
            if (e.rfind("insert 31 ", 0) == 0)
                want.push_back("attach 31 901");
        }
    }
    want.push_back("invalidate");
    EXPECT_EQ(sink.Events(), want);
}

TEST(ShowImgBySize, RestartKeepsTheImages) {
    FakePreview sink;
    Names(sink, 31);
    bool resized = false;
    sink.hook = [&](const std::string& e) {
        if (e.rfind("pos 29 ", 0) == 0 && !resized) {
            resized = true;
            sink.outerWidth = 930 - 200; // layout 450: two columns
        }
    };
    ShowImgBySizeThread worker(sink);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitEnded(worker, 20000));

    std::vector<std::string> want = kClearing;
    want.insert(want.end(), {"count 31", "redraw on"});
    ExpectPlaced(want, sink.state.names, 0, 30, 3, false);
    want.insert(want.end(), {"count 31", "free records", "delete items"});
    want.insert(want.end(), {"count 31", "redraw on"});
    ExpectPlaced(want, sink.state.names, 0, 30, 2, false);
    want.insert(want.end(), {"count 31", "redraw on"});
    ExpectPlaced(want, sink.state.names, 30, 1, 2, false);
    want.push_back("invalidate");
    EXPECT_EQ(sink.Events(), want);
}

TEST(ShowImgBySize, StopEndsBeforeTheNextPlacement) {
    FakePreview sink;
    Names(sink, 60);
    platform::EventHandle stopEvent = platform::EventHandle::Create(u"Global\\ShowImgBySizeThread");
    std::atomic<bool> held{false};
    sink.hook = [&](const std::string& e) {
        if (e.rfind("insert 3 ", 0) == 0) {
            held = true;
            stopEvent.WaitFor(10000);
        }
    };
    ShowImgBySizeThread worker(sink);
    ASSERT_TRUE(worker.Start());
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!held && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(held);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(worker.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));

    std::vector<std::string> want = kClearing;
    want.insert(want.end(), {"count 60", "redraw on"});
    ExpectPlaced(want, sink.state.names, 0, 3, 3, false);
    want.push_back("insert 3 f3.jpg 3"); // the held item is never placed
    EXPECT_EQ(sink.Events(), want);
}
