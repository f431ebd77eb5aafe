#include "base/log.h"
#include "base/log_testing.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/paths.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

LogClock g_now{2013, 5, 2, 14, 7, 9, 7};
LogClock TestClock() {
    return g_now;
}

std::string Utf16Le(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

const std::string kBom = "\xFF\xFE";

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo-log-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_root = tmpl;
        platform::OverrideModuleFileName(platform::FromNarrow(m_root) + u"/QumoClient");
        ASSERT_TRUE(platform::CreateDir(platform::FromNarrow(LogDir())));
        ResetLogForTesting();
        g_now = {2013, 5, 2, 14, 7, 9, 7};
        SetLogClockForTesting(&TestClock);
    }
    void TearDown() override {
        ResetLogForTesting();
        platform::OverrideModuleFileName(u"");
        platform::DeleteTree(platform::FromNarrow(m_root));
    }

    std::string LogDir() const { return m_root + "/log"; }
    std::string LogFile() const { return LogDir() + "/QumoClient.log"; }
    std::string RotatedFile() const { return LogDir() + "/QumoClient.0.log"; }

    static std::string Read(const std::string& path) {
        std::string s;
        if (!platform::ReadWholeFile(platform::FromNarrow(path), s, 64 << 20))
            return "<missing>";
        return s;
    }
    static void Write(const std::string& path, const std::string& data) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    }
    static bool Exists(const std::string& path) {
        platform::FileAttributes a;
        return platform::GetFileAttributesEx(platform::FromNarrow(path), a);
    }

    std::string m_root;
};

TEST_F(LogTest, FirstLineCreatesFileWithBomThenLinesAppend) {
    LogError(u"Failed to call %s, errorcode is %d", u"xml.Read", 2);
    std::string expected =
        kBom +
        Utf16Le(u"2013-05-02 14:07:09 [ERROR] - Failed to call xml.Read, errorcode is 2\r\n");
    EXPECT_EQ(Read(LogFile()), expected);

    g_now = {2024, 12, 31, 23, 59, 58, 999};
    LogInfo(u"%hs \u4E2D", "step");
    expected += Utf16Le(u"2024-12-31 23:59:58 [INFO] - step \u4E2D\r\n");
    EXPECT_EQ(Read(LogFile()), expected);
}

TEST_F(LogTest, ExistingFileGetsNoSecondBom) {
    Write(LogFile(), "AB");
    LogInfo(u"x");
    EXPECT_EQ(Read(LogFile()), "AB" + Utf16Le(u"2013-05-02 14:07:09 [INFO] - x\r\n"));
}

TEST_F(LogTest, LongMessageKeeps259Units) {
    std::u16string msg;
    for (int i = 0; i < 300; ++i)
        msg += static_cast<char16_t>(u'a' + i % 26);
    LogError(u"%s", msg.c_str());
    EXPECT_EQ(Read(LogFile()),
              kBom + Utf16Le(u"2013-05-02 14:07:09 [ERROR] - " + msg.substr(0, 259) + u"\r\n"));
}

TEST_F(LogTest, NullFormatWritesNothing) {
    LogError(nullptr);
    EXPECT_FALSE(Exists(LogFile()));
}

TEST_F(LogTest, RotatesLargeFileReplacingOlderRotation) {
    const std::string big(2 * 1024 * 1024 + 1, 'B');
    Write(LogFile(), big);
    Write(RotatedFile(), "older");
    LogInfo(u"after");
    EXPECT_EQ(Read(RotatedFile()), big);
    EXPECT_EQ(Read(LogFile()), kBom + Utf16Le(u"2013-05-02 14:07:09 [INFO] - after\r\n"));
    EXPECT_EQ(LogRotationCounterForTesting(), 0);
}

TEST_F(LogTest, ExactlyTwoMebibytesStaysAndIsCheckedEveryLine) {
    Write(LogFile(), std::string(2 * 1024 * 1024 - 2, 'A'));
    LogInfo(u"x"); // now well past 2 MiB, but it was not when checked
    EXPECT_FALSE(Exists(RotatedFile()));
    EXPECT_EQ(LogRotationCounterForTesting(), 100);
    LogInfo(u"y"); // the counter stayed at 100, so this line checks again
    EXPECT_TRUE(Exists(RotatedFile()));
    EXPECT_EQ(Read(LogFile()), kBom + Utf16Le(u"2013-05-02 14:07:09 [INFO] - y\r\n"));
}

TEST_F(LogTest, AfterRotationSizeIsCheckedAgainOnlyAfter100Lines) {
    Write(LogFile(), std::string(2 * 1024 * 1024 + 1, '1'));
    LogInfo(u"first");
    ASSERT_EQ(LogRotationCounterForTesting(), 0);

    const std::string second(2 * 1024 * 1024 + 1, '2');
    Write(LogFile(), second);
    for (int i = 0; i < 100; ++i)
        LogInfo(u"line %d", i);
    EXPECT_EQ(Read(RotatedFile())[0], '1');
    EXPECT_EQ(LogRotationCounterForTesting(), 100);

    LogInfo(u"now");
    std::string rotated = Read(RotatedFile());
    EXPECT_EQ(rotated.substr(0, second.size()), second);
    EXPECT_EQ(Read(LogFile()), kBom + Utf16Le(u"2013-05-02 14:07:09 [INFO] - now\r\n"));
    EXPECT_EQ(LogRotationCounterForTesting(), 0);
}

TEST_F(LogTest, RotateIfLargeIgnoresEmptyPathAndMissingFile) {
    RotateIfLarge(u"");
    EXPECT_EQ(LogRotationCounterForTesting(), 100);
    RotateIfLarge(platform::FromNarrow(LogFile()));
    EXPECT_EQ(LogRotationCounterForTesting(), 100);
    SetLogRotationCounterForTesting(5);
    RotateIfLarge(platform::FromNarrow(LogFile()));
    EXPECT_EQ(LogRotationCounterForTesting(), 6);
}

TEST_F(LogTest, MissingLogFolderDropsLinesQuietly) {
    ASSERT_TRUE(platform::DeleteTree(platform::FromNarrow(LogDir())));
    platform::SetLastErrorCode(1234);
    LogError(u"lost %d", 1);
    EXPECT_EQ(platform::GetLastErrorCode(), 1234);

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(DayTrace(u"still %hs", "seen"), 1);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::GetLastErrorCode(), 1234);
    EXPECT_EQ(err, "2013-05-02 14:07:09:0007 still seen\r\n");
    EXPECT_FALSE(Exists(LogDir()));
}

TEST_F(LogTest, FilePathIsRememberedPerName) {
    std::u16string folder = platform::FromNarrow(m_root);
    EXPECT_EQ(LogFilePath(u"QumoClient"), folder + u"/log/QumoClient.log");
    platform::OverrideModuleFileName(u"/elsewhere/prog");
    EXPECT_EQ(LogFilePath(u"QumoClient"), folder + u"/log/QumoClient.log");
    EXPECT_EQ(LogFilePath(u"Other"), u"/elsewhere/log/Other.log");
    EXPECT_EQ(LogFilePath(nullptr), u"");
    ResetLogForTesting();
    platform::OverrideModuleFileName(u"noFolder");
    EXPECT_EQ(LogFilePath(u"QumoClient"), u"/log/QumoClient.log");
}

TEST_F(LogTest, DayTraceLinesAndLineEnds) {
    ::testing::internal::CaptureStderr();
    g_now = {2013, 5, 2, 23, 59, 59, 7};
    EXPECT_EQ(DayTrace(u"[New]->Sha1-line=%d,%x.", 48, 0xab12u), 1);
    EXPECT_EQ(DayTrace(u"ends with lf\n"), 1);
    EXPECT_EQ(DayTrace(u""), 1);
    EXPECT_EQ(DayTrace(nullptr), 0);
    g_now = {2013, 5, 3, 0, 0, 0, 123};
    EXPECT_EQ(DayTrace(u"new day \u4E2D"), 1);
    std::string err = ::testing::internal::GetCapturedStderr();

    const std::string day1 = "2013-05-02 23:59:59:0007 [New]->Sha1-line=48,ab12.\r\n"
                             "2013-05-02 23:59:59:0007 ends with lf\n"
                             "2013-05-02 23:59:59:0007 \r\n";
    const std::string day2 = "2013-05-03 00:00:00:0123 new day \xE4\xB8\xAD\r\n";
    EXPECT_EQ(Read(LogDir() + "/2013-05-02.log"), day1);
    EXPECT_EQ(Read(LogDir() + "/2013-05-03.log"), day2);
    EXPECT_EQ(err, day1 + day2);
}

TEST_F(LogTest, DayTraceLongLineIsCutAndStillEnds) {
    ::testing::internal::CaptureStderr();
    std::u16string msg(3000, u'z');
    DayTrace(u"%s", msg.c_str());
    ::testing::internal::GetCapturedStderr();
    std::string prefix = "2013-05-02 14:07:09:0007 ";
    EXPECT_EQ(Read(LogDir() + "/2013-05-02.log"),
              prefix + std::string(2047 - prefix.size(), 'z') + "\r\n");
}

TEST_F(LogTest, ConcurrentWritersLoseNoLine) {
    constexpr int kThreads = 8;
    constexpr int kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                if (i % 2)
                    LogInfo(u"thread %d line %d", t, i);
                else
                    LogError(u"thread %d line %d", t, i);
            }
        });
    for (auto& th : threads)
        th.join();

    std::string bytes = Read(LogFile());
    ASSERT_EQ(bytes.substr(0, 2), kBom);
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    std::set<std::u16string> seen;
    std::size_t pos = 0;
    int count = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(u"\r\n", pos);
        ASSERT_NE(end, std::u16string::npos);
        std::u16string line = text.substr(pos, end - pos);
        std::size_t dash = line.find(u" - ");
        ASSERT_NE(dash, std::u16string::npos) << platform::ToNarrow(line);
        seen.insert(line.substr(dash + 3));
        ++count;
        pos = end + 2;
    }
    EXPECT_EQ(count, kThreads * kLines);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

} // namespace
