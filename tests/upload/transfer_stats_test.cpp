// The progress figures from recorded byte counts and sample times (no clock is read).
#include <gtest/gtest.h>

#include <cmath>

#include "upload/transfer_stats.h"
#include "upload/upload_protocol.h"

namespace {

constexpr uint64_t kMB = 1024 * 1024;

// A steady 1 MB/s, a burst of 10 MB in one second, then nothing: the speed never moves by
// more than twice a second, the time left follows it, and a per-file speed is kept.
TEST(TransferStats, SmoothsSpeedWithoutJumpsAndEstimatesTimeLeft) {
    TransferStats s;
    s.Queued(u"/p/a.jpg", 100 * kMB);
    s.Sample(0);
    for (int i = 1; i <= 5; ++i) {
        s.BytesSent(u"/p/a.jpg", kMB, static_cast<uint64_t>(i) * kMB, 100 * kMB);
        s.Sample(i * 1000);
    }
    TransferStats::Figures f = s.Snapshot();
    ASSERT_TRUE(f.hasSpeed);
    EXPECT_DOUBLE_EQ(f.bytesPerSec, static_cast<double>(kMB));
    EXPECT_EQ(f.bytesDone, 5 * kMB);
    EXPECT_EQ(f.secondsLeft, 95);
    EXPECT_DOUBLE_EQ(s.FileSpeed(u"/P/A.JPG"), static_cast<double>(kMB));
    ASSERT_EQ(s.FileSpeeds().size(), 1u);
    EXPECT_EQ(s.FileSpeeds()[0].first, u"/p/a.jpg");

    double last = f.bytesPerSec;
    const uint64_t sent[] = {10 * kMB, 0, 0, kMB, kMB};
    uint64_t position = 5 * kMB;
    int64_t t = 5000;
    for (uint64_t n : sent) {
        position += n;
        if (n > 0) {
            s.BytesSent(u"/p/a.jpg", n, position, 100 * kMB);
        }
        s.Sample(t += 1000);
        f = s.Snapshot();
        ASSERT_TRUE(f.hasSpeed);
        EXPECT_LE(f.bytesPerSec, 2 * last);
        EXPECT_GE(f.bytesPerSec, last / 2);
        last = f.bytesPerSec;
    }
    EXPECT_FALSE(f.stalled);
    EXPECT_EQ(f.secondsLeft, static_cast<int64_t>(std::ceil(
                                 static_cast<double>(100 * kMB - position) / f.bytesPerSec)));
}

// An instant upload is done but adds no speed; a file resumed past an earlier run counts
// its earlier bytes as done, not as speed; a quiet stretch is a stall, not a speed of 0.
TEST(TransferStats, InstantUploadsResumedFilesAndStalls) {
    TransferStats s;
    s.Queued(u"/p/known.jpg", 50 * kMB);
    s.Queued(u"/p/big.mp4", 100 * kMB);
    s.Sample(0);
    s.Ended(u"/p/known.jpg", TransferStats::EndOfResult(kUploadInstant));
    s.BytesSent(u"/p/big.mp4", kMB, 61 * kMB, 100 * kMB); // 60 MB were sent before
    s.Sample(1000);
    TransferStats::Figures f = s.Snapshot();
    EXPECT_EQ(f.filesDone, 1);
    EXPECT_EQ(f.filesTotal, 2);
    EXPECT_EQ(f.bytesDone, 111 * kMB);
    EXPECT_EQ(f.bytesTotal, 150 * kMB);
    EXPECT_DOUBLE_EQ(f.bytesPerSec, static_cast<double>(kMB));

    // The worker backs off: no byte for a few seconds.
    s.Ended(u"/p/big.mp4", TransferStats::EndOfResult(kUploadTransferFailed));
    for (int64_t t = 2000; t <= 1000 + TransferStats::kStallMs; t += 1000) {
        s.Sample(t);
    }
    f = s.Snapshot();
    EXPECT_TRUE(f.stalled);
    EXPECT_FALSE(f.hasSpeed);
    EXPECT_EQ(f.secondsLeft, -1);
    EXPECT_TRUE(s.FileSpeeds().empty());

    // Bytes again: the speed starts afresh from what moves now.
    s.BytesSent(u"/p/big.mp4", 4 * kMB, 65 * kMB, 100 * kMB);
    s.Sample(2000 + TransferStats::kStallMs);
    f = s.Snapshot();
    EXPECT_FALSE(f.stalled);
    EXPECT_DOUBLE_EQ(f.bytesPerSec, 4.0 * kMB);

    // A sample after a long gap (the machine slept) is no speed at all, not a tiny one the
    // next seconds could only double their way up from.
    s.BytesSent(u"/p/big.mp4", kMB, 66 * kMB, 100 * kMB);
    s.Sample(3600 * 1000);
    EXPECT_FALSE(s.Snapshot().hasSpeed);
    s.BytesSent(u"/p/big.mp4", 3 * kMB, 69 * kMB, 100 * kMB);
    s.Sample(3601 * 1000);
    EXPECT_DOUBLE_EQ(s.Snapshot().bytesPerSec, 3.0 * kMB);
    EXPECT_DOUBLE_EQ(s.FileSpeed(u"/p/big.mp4"), 3.0 * kMB);
}

// The batch ends once nothing is open or paused: once, with the failures; a removed file
// leaves the totals; a pause keeps the batch open; the next file starts a new batch.
TEST(TransferStats, BatchEndsOnceWhenNothingIsLeft) {
    TransferStats s;
    for (const char16_t* p : {u"/a", u"/b", u"/c", u"/d"}) {
        s.Queued(p, 10);
    }
    s.Ended(u"/a", TransferStats::End::Done);
    s.Ended(u"/b", TransferStats::EndOfResult(kUploadUnreadable));
    s.Ended(u"/c", TransferStats::End::Removed);
    s.PauseAll();
    TransferStats::Figures f;
    EXPECT_TRUE(s.Snapshot().paused);
    EXPECT_FALSE(s.TakeFinishedBatch(f));

    s.Queued(u"/d", 10); // resumed
    s.Ended(u"/d", TransferStats::EndOfResult(kUploadDone));
    ASSERT_TRUE(s.TakeFinishedBatch(f));
    EXPECT_EQ(f.filesTotal, 3);
    EXPECT_EQ(f.filesDone, 2);
    EXPECT_EQ(f.filesFailed, 1);
    EXPECT_FALSE(s.TakeFinishedBatch(f));

    s.Queued(u"/e", 10);
    EXPECT_EQ(s.Snapshot().filesTotal, 1);
    EXPECT_TRUE(s.Snapshot().Active());
}

} // namespace

// "Waiting for the network" is the figures' word only while the service's last answer is
// missing: a stall behind refusals or back-off with a service that answers is none.
TEST(TransferStats, UnreachableOnlyWhileTheServiceGivesNoAnswer) {
    TransferStats s;
    s.Queued(u"/a", 10);
    s.Queued(u"/b", 10);
    s.Sample(0);
    s.Sample(TransferStats::kStallMs);
    EXPECT_TRUE(s.Snapshot().stalled);
    EXPECT_FALSE(s.Snapshot().unreachable);
    s.ServiceAnswered(false);
    EXPECT_TRUE(s.Snapshot().unreachable);
    s.ServiceAnswered(true); // a refusal is an answer
    EXPECT_FALSE(s.Snapshot().unreachable);
    s.ServiceAnswered(false);
    s.Ended(u"/a", TransferStats::EndOfResult(kUploadRefused));
    EXPECT_EQ(s.Snapshot().filesFailed, 1);
    EXPECT_TRUE(s.Snapshot().unreachable);
    s.Ended(u"/b", TransferStats::End::Failed);
    EXPECT_FALSE(s.Snapshot().unreachable); // nothing open waits for it
    s.Reset();
    s.Queued(u"/c", 10);
    EXPECT_FALSE(s.Snapshot().unreachable);
}
