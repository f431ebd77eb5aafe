// The preview list holds the pictures of what is on screen and a bounded read-ahead, and
// makes them again when they come back into view.
#include <gtest/gtest.h>

#include "ui/mainframe/preview_list.h"

#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

QColor Centre(CPreviewList& list, int row) {
    return list.item(row)->icon().pixmap(160, 120).toImage().pixelColor(80, 60);
}

} // namespace

TEST(PreviewList, ALargeFolderHoldsABoundedNumberOfPicturesAndRemakesThem) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CACHE_HOME", (dir.path() + "/cache").toUtf8());
    QImage red(40, 30, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(dir.path() + "/red.png"));

    CPreviewList list;
    list.resize(1000, 640);
    list.show();
    const int n = 5000;
    list.StartThumbnails(true, {});
    list.SetImageCount(n);
    for (int i = 0; i < n; ++i) {
        list.InsertPreviewItem(i, u"red" + QString::number(i).toStdU16String() + u".png", i);
        list.SetItemFile(i, (dir.path() + "/red.png").toStdU16String());
    }
    // Only the first screen and its read-ahead are made, not the whole folder.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list.ThumbnailsPending(); }, 60000));
    const auto [first, last] = list.VisibleRange();
    EXPECT_EQ(first, 0);
    EXPECT_GT(last, 8);
    EXPECT_EQ(Centre(list, last), QColor(Qt::red));
    EXPECT_LT(list.HeldImages(), 10 * (last + 1));

    // Pictures pushed in for every item (as a worker may do) stay within the bound; those
    // let go show white, the ones on screen stay.
    QImage blue(160, 120, QImage::Format_RGB888);
    blue.fill(Qt::blue);
    for (int i = 0; i < n; ++i)
        list.ReplaceImage(i, blue);
    EXPECT_LE(list.HeldImages(), CPreviewList::kHeldImages + last + 1);
    EXPECT_EQ(Centre(list, 0), QColor(Qt::blue));
    EXPECT_EQ(Centre(list, n / 2), QColor(Qt::white));

    // Scrolled to the middle: that screen is made again.
    list.scrollToItem(list.item(n / 2));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list.VisibleRange().first > 0 && !list.ThumbnailsPending(); }, 60000));
    EXPECT_EQ(Centre(list, list.VisibleRange().first), QColor(Qt::red));
    list.StopThumbnails();
    qunsetenv("XDG_CACHE_HOME");
}
