// Server file records from list entries, their display and disk names, and where their
// small pictures are fetched from.
#include "serverdir/server_file_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "media/preview_grid.h"
#include "net/hosts.h"
#include "platform/codepage.h"
#include "serverdir/file_download_thread.h"

namespace {

template <std::size_t N> void Set(char16_t (&dst)[N], const std::u16string& s) {
    CopyToFixed(dst, s);
}

ServerFileEntry FileEntry(const std::u16string& name, const std::u16string& suffix, int type) {
    ServerFileEntry e;
    e.name = name;
    e.dirid = 1004;
    e.type = type;
    e.timestamp = 1327284000; // 2012-01-23 02:00:00 UTC, a Monday
    Set(e.id, u"5001");
    e.size = 4096;
    Set(e.suffix, suffix);
    Set(e.source, u"http://h/src/5001");
    Set(e.bigpic, u"http://h/pic/l/a.png");
    Set(e.mobilepic, u"pic/s/a.png");
    Set(e.playurl, u"http://h/play/5001");
    return e;
}

class UtcZone : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        m_hadTz = tz != nullptr;
        if (tz)
            m_tz = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (m_hadTz)
            setenv("TZ", m_tz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool m_hadTz = false;
    std::string m_tz;
};

using ServerFileRecord = UtcZone;

TEST_F(ServerFileRecord, PictureEntry) {
    UpInfo r = MakeServerFileRecord(FileEntry(u"holiday", u"jpg", 1));
    EXPECT_EQ(r.m_nFileType, 88);
    EXPECT_EQ(r.m_entry->m_bIsDir, 0);
    EXPECT_EQ(r.m_entry->m_nItemType, 1);
    EXPECT_EQ(r.m_strFileName, u"holiday");
    EXPECT_EQ(std::u16string(r.m_tcVid), u"5001");
    EXPECT_EQ(r.m_nFileLen, 4096);
    EXPECT_EQ(std::u16string(r.m_tcExt), u"jpg");
    EXPECT_EQ(r.m_nNetDirId, 1004);
    EXPECT_EQ(std::u16string(r.m_entry->m_tcSource), u"http://h/src/5001");
    EXPECT_EQ(std::u16string(r.m_entry->m_tcBigPic), u"http://h/pic/l/a.png");
    EXPECT_EQ(std::u16string(r.m_entry->m_tcMobilePic), u"pic/s/a.png");
    EXPECT_EQ(std::u16string(r.m_entry->m_tcPlayUrl), u""); // videos only
    EXPECT_EQ(ServerRecordId(r), 5001);
    // Untouched upload fields keep their defaults.
    EXPECT_EQ(r.m_nUploadPort, 80);
    EXPECT_EQ(r.m_nStatus, 0);
    EXPECT_TRUE(r.m_strFilePath.empty());

    const EntryTime& t = r.m_entry->m_stTime;
    EXPECT_EQ(t.wYear, 2012);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 23);
    EXPECT_EQ(t.wHour, 2);
    EXPECT_EQ(t.wMinute, 0);
    EXPECT_EQ(t.wSecond, 0);
    EXPECT_EQ(t.wDayOfWeek, 1);
}

TEST_F(ServerFileRecord, VideoAndFolderEntries) {
    ServerFileEntry video = FileEntry(u"walk.mp4", u"mp4", 200);
    video.size = 5368709120u; // 5 GiB: past 32 bits
    UpInfo v = MakeServerFileRecord(video);
    EXPECT_EQ(std::u16string(v.m_entry->m_tcPlayUrl), u"http://h/play/5001");
    EXPECT_EQ(v.m_nFileLen, 5368709120);

    ServerFileEntry f = FileEntry(u"宝宝成长", u"", 100);
    UpInfo d = MakeServerFileRecord(f);
    EXPECT_EQ(d.m_entry->m_bIsDir, 1);
    EXPECT_EQ(d.m_entry->m_nItemType, 100);
    EXPECT_EQ(std::u16string(d.m_tcVid), u"5001");
    // The file-only members are not taken for a sub-folder.
    EXPECT_EQ(d.m_nFileLen, 0);
    EXPECT_EQ(std::u16string(d.m_entry->m_tcMobilePic), u"");
    EXPECT_EQ(std::u16string(d.m_entry->m_tcSource), u"");
}

TEST_F(ServerFileRecord, TimesThatCannotBeConverted) {
    for (int64_t bad : {int64_t{-1}, int64_t{1} << 62}) {
        EntryTime t = EntryTimeFromSeconds(bad);
        EXPECT_EQ(t.wYear, 0);
        EXPECT_EQ(t.wMonth, 0);
        EXPECT_EQ(t.wDay, 0);
        EXPECT_EQ(t.wDayOfWeek, 0);
        EXPECT_EQ(t.wHour, 255);
        EXPECT_EQ(t.wMinute, 255);
        EXPECT_EQ(t.wSecond, 255);
    }
    EntryTime epoch = EntryTimeFromSeconds(0);
    EXPECT_EQ(epoch.wYear, 1970);
    EXPECT_EQ(epoch.wDayOfWeek, 4);
}

TEST_F(ServerFileRecord, LongAndOddMembersAreCutToTheirFields) {
    ServerFileEntry e = FileEntry(std::u16string(2000, u'n'), u"", 1);
    UpInfo r = MakeServerFileRecord(e);
    EXPECT_EQ(r.m_strFileName.size(), 519u);
    Set(e.id, u"  42abc");
    EXPECT_EQ(ServerRecordId(MakeServerFileRecord(e)), 42);
    Set(e.id, u"");
    EXPECT_EQ(ServerRecordId(MakeServerFileRecord(e)), 0);
}

TEST_F(ServerFileRecord, DisplayAndThumbnailNames) {
    UpInfo holiday = MakeServerFileRecord(FileEntry(u"holiday", u"jpg", 1));
    UpInfo png = MakeServerFileRecord(FileEntry(u"a.png", u"jpg", 1));
    EXPECT_EQ(DisplayName(holiday), u"holiday.jpg");
    EXPECT_EQ(DisplayName(png), u"a.png");
    EXPECT_EQ(FileDownLoadThread::ThumbnailFile(u"/c/r", holiday), u"/c/r/holiday.jpg");
    EXPECT_EQ(FileDownLoadThread::ThumbnailFile(u"/c/r", png), u"/c/r/a.png");

    // The shown name stays; the file lands inside the cache directory.
    UpInfo evil = MakeServerFileRecord(FileEntry(u"../../x", u"jpg", 1));
    EXPECT_EQ(DisplayName(evil), u"../../x");
    EXPECT_EQ(FileDownLoadThread::ThumbnailFile(u"/c/r", evil), u"/c/r/..%2F..%2Fx");
    UpInfo dots = MakeServerFileRecord(FileEntry(u".", u"", 1));
    EXPECT_EQ(FileDownLoadThread::ThumbnailFile(u"/c/r", dots), u"/c/r/%2E");
}

TEST_F(ServerFileRecord, SmallPicturesComeFromThePictureOrVideoThumbnailHost) {
    const std::string pic = hosts::Picture(), vid = hosts::VideoThumb();
    hosts::SetPicture("127.0.0.1:1111");
    hosts::SetVideoThumb("127.0.0.1:2222");
    EXPECT_EQ(FileDownLoadThread::ThumbnailUrl(MakeServerFileRecord(FileEntry(u"p", u"png", 1))),
              "http://127.0.0.1:1111/pic/s/a.png");
    EXPECT_EQ(FileDownLoadThread::ThumbnailUrl(MakeServerFileRecord(FileEntry(u"p", u"png", 7))),
              "http://127.0.0.1:1111/pic/s/a.png");
    EXPECT_EQ(FileDownLoadThread::ThumbnailUrl(MakeServerFileRecord(FileEntry(u"v", u"mp4", 200))),
              "http://127.0.0.1:2222/pic/s/a.png");
    hosts::SetPicture(pic);
    hosts::SetVideoThumb(vid);
}

} // namespace
