#include "base/file_sha1.h"
#include "base/file_sha1_reader.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::u16string kEmptyDigest = u"da39a3ee5e6b4b0d3255bfef95601890afd80709";

std::u16string Wide(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

class FileSha1Test : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo-filesha1-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = m_dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
            std::fclose(f);
        }
        return path;
    }

    // The digest as sha1sum computes it, as an independent answer.
    static std::u16string SystemSha1(const std::string& path) {
        std::string cmd = "sha1sum '" + path + "'";
        std::string out;
        if (FILE* p = ::popen(cmd.c_str(), "r")) {
            char buf[512];
            while (std::fgets(buf, sizeof buf, p))
                out += buf;
            ::pclose(p);
        }
        return Wide(out.substr(0, 40));
    }

    std::string m_dir;
};

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(gen());
    return s;
}

TEST_F(FileSha1Test, DigestsMatchSystemTool) {
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1(Write("empty", "").c_str()), kEmptyDigest);
    EXPECT_EQ(sha.GetFileSha1(Write("abc", "abc").c_str()),
              u"a9993e364706816aba3e25717850c26c9cd0d89d");

    std::mt19937 gen(1234);
    const size_t block = CFileSha1::kBlockSize;
    std::vector<size_t> sizes = {1, 63, 64, 65, 10240, block - 1, block, block + 1, 2 * block + 1};
    for (int i = 0; i < 6; ++i)
        sizes.push_back(gen() % 300000);
    for (size_t n : sizes) {
        std::string path = Write("f" + std::to_string(n), RandomBytes(n, gen()));
        std::u16string digest = sha.GetFileSha1(path.c_str());
        ASSERT_EQ(digest.size(), 40u);
        EXPECT_EQ(digest, SystemSha1(path)) << "size " << n;
    }
}

TEST_F(FileSha1Test, NonAsciiNamesAreUtf8) {
    std::string path = Write("\xe7\x85\xa7\xe7\x89\x87 photo.jpg", "abc");
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), u"a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST_F(FileSha1Test, UnopenablePathsFailWithOpenError) {
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1((m_dir + "/missing").c_str()), u"");
    EXPECT_EQ(sha.ErrorText(), "The file can't be opened!");

    // A folder opens for reading on this system but is not a readable file.
    CFileSha1 dir;
    EXPECT_EQ(dir.GetFileSha1(m_dir.c_str()), u"");
    EXPECT_EQ(dir.ErrorText(), "The file can't be opened!");

    CFileSha1 null;
    EXPECT_EQ(null.GetFileSha1(nullptr), u"");
    EXPECT_EQ(null.ErrorText(), "The file can't be opened!");

    // An earlier failure's text stays after a later success.
    EXPECT_EQ(sha.GetFileSha1(Write("ok", "").c_str()), kEmptyDigest);
    EXPECT_EQ(sha.ErrorText(), "The file can't be opened!");
}

TEST_F(FileSha1Test, FileWithoutReadPermission) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their mode";
    std::string path = Write("locked", "secret");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), u"");
    EXPECT_EQ(sha.ErrorText(), "The file can't be opened!");
}

// A read that fails is an error, not the end of the file. Reading this process's own
// memory file at offset 0 opens fine and then fails (nothing is mapped there).
TEST_F(FileSha1Test, ReadErrorIsReportedNotHashed) {
    int probe = ::open("/proc/self/mem", O_RDONLY);
    if (probe < 0)
        GTEST_SKIP() << "no /proc/self/mem";
    char c;
    ssize_t got = ::read(probe, &c, 1);
    ::close(probe);
    if (got >= 0)
        GTEST_SKIP() << "address 0 is readable here";
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1("/proc/self/mem"), u"");
    EXPECT_EQ(sha.ErrorText(), "UnKnow error!");
}

// The line names the read buffer, which the thread keeps for its next digest: a queue of
// small files does not allocate a megabyte per file.
TEST_F(FileSha1Test, WritesDayTraceLineAndReusesTheThreadsBuffer) {
    std::string path = Write("t", "x");
    ::testing::internal::CaptureStderr();
    CFileSha1 first;
    first.GetFileSha1(path.c_str());
    CFileSha1 second;
    second.GetFileSha1(path.c_str());
    std::string err = ::testing::internal::GetCapturedStderr();
    std::regex line(R"(\[New\]->Sha1-line=48,([0-9a-f]+)\.\r?\n)");
    std::vector<std::string> addresses;
    for (std::sregex_iterator it(err.begin(), err.end(), line), end; it != end; ++it)
        addresses.push_back((*it)[1]);
    ASSERT_EQ(addresses.size(), 2u) << err;
    EXPECT_EQ(addresses[0], addresses[1]);
}

// A stop left over from before the call is cleared when the call starts.
TEST_F(FileSha1Test, EarlierStopIsCleared) {
    std::string path = Write("big", RandomBytes(50000, 9));
    CFileSha1 sha;
    sha.RequestStop();
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), SystemSha1(path));
}

// A pipe lets the test decide exactly what the reader has seen when the stop arrives.
class FileSha1StopTest : public FileSha1Test {
protected:
    void SetUp() override {
        FileSha1Test::SetUp();
        m_fifo = m_dir + "/pipe";
        ASSERT_EQ(::mkfifo(m_fifo.c_str(), 0600), 0);
        // The reader may close its end while the test still writes.
        m_oldPipe = std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override {
        std::signal(SIGPIPE, m_oldPipe);
        FileSha1Test::TearDown();
    }

    // Opening the writing end returns only once the digest has opened the reading end,
    // which is after it cleared the stop flag.
    int OpenWriter() { return ::open(m_fifo.c_str(), O_WRONLY); }

    // Writes until done or until the reader has gone.
    static void WriteAll(int fd, const std::string& s) {
        size_t done = 0;
        while (done < s.size()) {
            ssize_t w = ::write(fd, s.data() + done, s.size() - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0 && errno == EPIPE)
                return;
            ASSERT_GT(w, 0);
            done += static_cast<size_t>(w);
        }
    }

    std::string m_fifo;
    void (*m_oldPipe)(int) = SIG_DFL;
};

TEST_F(FileSha1StopTest, StopMidFile) {
    CFileSha1 sha;
    std::u16string digest = u"not run";
    std::thread worker([&] { digest = sha.GetFileSha1(m_fifo.c_str()); });
    int fd = OpenWriter();
    ASSERT_GE(fd, 0);
    WriteAll(fd, RandomBytes(3 * CFileSha1::kBlockSize, 1));
    sha.RequestStop();
    // Data written after the stop is read and seen with the flag set.
    WriteAll(fd, RandomBytes(CFileSha1::kBlockSize, 2));
    ::close(fd);
    worker.join();
    EXPECT_EQ(digest, u"");
    EXPECT_EQ(sha.ErrorText(), "User terminate calculate!");
}

TEST_F(FileSha1StopTest, StopBeforeFirstChunkStillReadsOneChunk) {
    CFileSha1 sha;
    std::u16string digest = u"not run";
    std::thread worker([&] { digest = sha.GetFileSha1(m_fifo.c_str()); });
    int fd = OpenWriter();
    ASSERT_GE(fd, 0);
    sha.RequestStop();
    WriteAll(fd, "one chunk");
    // The writing end stays open, so a reader waiting for a second chunk would never
    // return: the join itself shows it stopped after the first.
    worker.join();
    EXPECT_EQ(digest, u"");
    EXPECT_EQ(sha.ErrorText(), "User terminate calculate!");
    ::close(fd);
}

TEST_F(FileSha1StopTest, EmptyPipeIsEmptyDigestEvenWithStop) {
    // No chunk arrives, so the flag is never looked at.
    CFileSha1 sha;
    std::u16string digest;
    std::thread worker([&] { digest = sha.GetFileSha1(m_fifo.c_str()); });
    int fd = OpenWriter();
    ASSERT_GE(fd, 0);
    sha.RequestStop();
    ::close(fd);
    worker.join();
    EXPECT_EQ(digest, kEmptyDigest);
}

TEST_F(FileSha1Test, IndependentObjectsOnSeveralThreads) {
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i)
        paths.push_back(Write("c" + std::to_string(i), RandomBytes(200000 + 777 * i, i)));
    std::vector<std::u16string> expect;
    for (auto& p : paths)
        expect.push_back(SystemSha1(p));
    std::vector<std::u16string> got(paths.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < paths.size(); ++i)
        threads.emplace_back([&, i] {
            CFileSha1 sha;
            for (int round = 0; round < 5; ++round) {
                std::u16string d = sha.GetFileSha1(paths[i].c_str());
                if (round == 0 || d != got[i])
                    got[i] = d;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(got, expect);
}

// Large files can be read on a second thread while hashed. A read hook lets the tests
// see which thread reads, make reads short or failing, and stop at an exact block. Most
// of them ask for small blocks, so that many blocks and ring turns fit in a small file.
std::atomic<int> g_reads{0};
std::atomic<int> g_failAt{0};         // this read fails with EIO (0: none)
std::atomic<int> g_stopAt{0};         // this read requests a stop first (0: none)
std::atomic<size_t> g_maxRead{0};     // reads ask for at most this much (0: as asked)
std::atomic<bool> g_interrupt{false}; // every other read is interrupted by a signal
std::atomic<bool> g_otherThread{false};
std::thread::id g_caller;
CFileSha1* g_target = nullptr;

ssize_t HookRead(int fd, void* buffer, size_t n) {
    int nth = ++g_reads;
    if (std::this_thread::get_id() != g_caller)
        g_otherThread = true;
    if (g_interrupt && nth % 2 == 1) {
        errno = EINTR;
        return -1;
    }
    if (nth == g_stopAt)
        g_target->RequestStop();
    if (nth == g_failAt) {
        errno = EIO;
        return -1;
    }
    size_t cap = g_maxRead;
    return ::read(fd, buffer, cap != 0 && cap < n ? cap : n);
}

size_t ThreadCount() {
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// A joined thread may linger in /proc for a moment after pthread_join returns while the
// kernel finishes its exit; a reader still running would be there for good.
bool ThreadCountSettlesAt(size_t n) {
    for (int i = 0; i < 200 && ThreadCount() > n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ThreadCount() <= n;
}

class FileSha1AheadTest : public FileSha1Test {
protected:
    void SetUp() override {
        FileSha1Test::SetUp();
        g_reads = 0;
        g_failAt = 0;
        g_stopAt = 0;
        g_maxRead = 0;
        g_interrupt = false;
        g_otherThread = false;
        g_caller = std::this_thread::get_id();
        g_target = nullptr;
        // A sanitizer starts a helper thread along with the process's first thread; let
        // that happen before any thread counting.
        std::thread([] {}).join();
    }
    void TearDown() override {
        filesha1::SetTestHooks({});
        FileSha1Test::TearDown();
    }
    // Both ways of reading: ahead for every non-empty file, or never.
    static void Hook(bool ahead, bool noThread = false) {
        filesha1::TestHooks h;
        h.read = &HookRead;
        h.readAheadAbove = ahead ? 0 : LLONG_MAX;
        h.noThread = noThread;
        h.blockSize = kChunk;
        filesha1::SetTestHooks(h);
    }
    static constexpr size_t kChunk = 10240;
    static constexpr size_t kBlock = CFileSha1::kBlockSize;
    static constexpr size_t kSlots = filesha1::ReadAhead::kSlots;
};

TEST_F(FileSha1AheadTest, LargeFileStaysOnCallingThreadByDefault) {
    filesha1::TestHooks h;
    h.read = &HookRead;
    filesha1::SetTestHooks(h);
    std::string path = Write("large", RandomBytes(3 * kBlock + 17, 5));
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), SystemSha1(path));
    EXPECT_FALSE(g_otherThread);
    EXPECT_EQ(g_reads, 5); // three whole blocks, the last part and the end
}

TEST_F(FileSha1AheadTest, LargeFileIsReadAheadOnAnotherThread) {
    // Above a 1 MiB threshold; the hook otherwise only watches.
    filesha1::TestHooks h;
    h.read = &HookRead;
    h.readAheadAbove = 1 << 20;
    filesha1::SetTestHooks(h);
    std::string path = Write("large", RandomBytes(3 * kBlock + 17, 5));
    size_t threads = ThreadCount();
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), SystemSha1(path));
    EXPECT_TRUE(g_otherThread);
    EXPECT_EQ(g_reads, 5); // last part and the end
    EXPECT_TRUE(ThreadCountSettlesAt(threads));

    // Exactly 1 MiB stays on the calling thread.
    g_otherThread = false;
    path = Write("mib", RandomBytes(1 << 20, 6));
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), SystemSha1(path));
    EXPECT_FALSE(g_otherThread);
}

TEST_F(FileSha1AheadTest, DigestsAtRingBoundaries) {
    Hook(true);
    std::vector<size_t> sizes = {1,
                                 kChunk - 1,
                                 kChunk,
                                 kChunk + 1,
                                 kSlots * kChunk - 1,
                                 kSlots * kChunk,
                                 kSlots * kChunk + 1,
                                 2 * kSlots * kChunk + 5,
                                 777777};
    CFileSha1 sha;
    for (size_t n : sizes) {
        std::string path = Write("r" + std::to_string(n), RandomBytes(n, unsigned(n)));
        g_reads = 0;
        EXPECT_EQ(sha.GetFileSha1(path.c_str()), SystemSha1(path)) << "size " << n;
        EXPECT_EQ(g_reads, int(n / kChunk + (n % kChunk != 0) + 1)) << "size " << n;
    }
    EXPECT_TRUE(g_otherThread);
}

TEST_F(FileSha1AheadTest, ShortAndInterruptedReadsBothWays) {
    std::string path = Write("short", RandomBytes(5 * kChunk + 333, 7));
    std::u16string expect = SystemSha1(path);
    for (bool ahead : {false, true}) {
        Hook(ahead);
        g_maxRead = 1000;
        CFileSha1 sha;
        EXPECT_EQ(sha.GetFileSha1(path.c_str()), expect) << "ahead " << ahead;
        g_maxRead = 0;
        g_interrupt = true;
        EXPECT_EQ(sha.GetFileSha1(path.c_str()), expect) << "ahead " << ahead;
        g_interrupt = false;
    }
}

TEST_F(FileSha1AheadTest, ReadErrorMidFileBothWays) {
    std::string path = Write("eio", RandomBytes(40 * kChunk, 8));
    for (bool ahead : {false, true}) {
        Hook(ahead);
        g_reads = 0;
        g_failAt = 20;
        size_t threads = ThreadCount();
        CFileSha1 sha;
        EXPECT_EQ(sha.GetFileSha1(path.c_str()), u"") << "ahead " << ahead;
        EXPECT_EQ(sha.ErrorText(), "UnKnow error!");
        // Reading ends at the failure; nothing after it is read.
        EXPECT_EQ(g_reads, 20);
        EXPECT_TRUE(ThreadCountSettlesAt(threads));
    }
}

TEST_F(FileSha1AheadTest, StopEndsReadingWithinTheRing) {
    std::string path = Write("stop", RandomBytes(3 * (1 << 20), 9));
    for (bool ahead : {false, true}) {
        for (int at : {1, 2, 50}) {
            Hook(ahead);
            g_reads = 0;
            g_stopAt = at;
            size_t threads = ThreadCount();
            CFileSha1 sha;
            g_target = &sha;
            EXPECT_EQ(sha.GetFileSha1(path.c_str()), u"") << "ahead " << ahead << " at " << at;
            EXPECT_EQ(sha.ErrorText(), "User terminate calculate!");
            // The chunk read with the stop set is the last looked at; the reader has at
            // most filled the rest of the ring and finished one read beyond it.
            int limit = ahead ? at + int(kSlots) + 1 : at;
            EXPECT_GE(g_reads, at);
            EXPECT_LE(g_reads, limit) << "ahead " << ahead << " at " << at;
            EXPECT_TRUE(ThreadCountSettlesAt(threads));
            g_target = nullptr;
        }
    }
}

TEST_F(FileSha1AheadTest, NoThreadFallsBackToReadingInline) {
    Hook(true, /*noThread=*/true);
    std::string path = Write("inline", RandomBytes(3 * kChunk + 9, 10));
    CFileSha1 sha;
    EXPECT_EQ(sha.GetFileSha1(path.c_str()), SystemSha1(path));
    EXPECT_FALSE(g_otherThread);
    EXPECT_EQ(g_reads, 5);
}

// Several digests reading ahead at once, and stops arriving at any moment: each call
// either finishes with the right digest or reports the stop, and leaves no thread.
TEST_F(FileSha1AheadTest, ConcurrentDigestsAndRacingStops) {
    filesha1::TestHooks h;
    h.readAheadAbove = 0;
    h.blockSize = kChunk;
    filesha1::SetTestHooks(h);
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i)
        paths.push_back(Write("a" + std::to_string(i), RandomBytes(300000 + 4099 * i, 20 + i)));
    std::vector<std::u16string> expect;
    for (auto& p : paths)
        expect.push_back(SystemSha1(p));
    size_t threads = ThreadCount();

    std::vector<int> wrong(paths.size(), 0);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < paths.size(); ++i)
        workers.emplace_back([&, i] {
            for (int round = 0; round < 4; ++round) {
                CFileSha1 sha;
                std::atomic<bool> done{false};
                std::thread stopper([&] {
                    for (int k = 0; k < round * 3 && !done; ++k)
                        std::this_thread::yield();
                    if (round % 2 == 1)
                        sha.RequestStop();
                });
                std::u16string d = sha.GetFileSha1(paths[i].c_str());
                done = true;
                stopper.join();
                bool stopped = d.empty() && sha.ErrorText() == "User terminate calculate!";
                if (d != expect[i] && !stopped)
                    ++wrong[i];
            }
        });
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(paths.size(), 0));
    EXPECT_TRUE(ThreadCountSettlesAt(threads));
}

} // namespace
