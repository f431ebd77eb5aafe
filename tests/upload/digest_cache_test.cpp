// The digest cache: a file known by path, size, times and inode is not read again, in this
// run or the next; any change of those is read again; a damaged or foreign cache file is
// skipped, never trusted; several transfers use it at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "base/file_sha1.h"
#include "base/file_sha1_reader.h"
#include "base/sha1.h"
#include "platform/codepage.h"
#include "upload/digest_cache.h"

namespace {

namespace fs = std::filesystem;
using digestcache::Cache;

std::u16string Hex(const std::string& content) {
    std::string h = Sha1Hex(content.data(), content.size());
    return std::u16string(h.begin(), h.end());
}

std::atomic<int> g_reads{0};
ssize_t CountingRead(int fd, void* buffer, size_t n) {
    ++g_reads;
    return ::read(fd, buffer, n);
}

// The tests' caches remember a file at once; the real one waits for it to settle.
constexpr int64_t kNoSettling = 0;

class DigestCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo-digestcache-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_cache = platform::FromNarrow(m_dir + "/digests.cache");
        filesha1::TestHooks hooks;
        hooks.read = &CountingRead;
        filesha1::SetTestHooks(hooks);
    }
    void TearDown() override {
        filesha1::SetTestHooks({});
        fs::remove_all(m_dir);
    }

    // Writes in place (the inode stays) and dates the file an hour back, plus `ns`.
    std::string Write(const std::string& name, const std::string& content, long ns = 0) {
        std::string path = m_dir + "/" + name;
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        if (!f.is_open())
            f.open(path, std::ios::out | std::ios::binary);
        f.write(content.data(), static_cast<std::streamsize>(content.size()));
        f.close();
        if (fs::file_size(path) != content.size())
            fs::resize_file(path, content.size());
        Date(path, ns);
        return path;
    }
    static void Date(const std::string& path, long ns) {
        timespec times[2] = {{0, UTIME_OMIT}, {m_hourAgo, ns}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    std::string CacheBytes() {
        std::ifstream f(platform::ToNarrow(m_cache), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    // The digest through the cache, and whether the file was read for it.
    static std::pair<std::u16string, bool> Digest(Cache& cache, const std::string& path) {
        CFileSha1 sha;
        g_reads = 0;
        std::u16string d = cache.FileSha1(path, sha);
        return {d, g_reads > 0};
    }

    std::string m_dir;
    std::u16string m_cache;
    static inline const time_t m_hourAgo = ::time(nullptr) - 3600;
};

std::pair<std::u16string, bool> Read(const std::string& content) {
    return {Hex(content), true};
}
std::pair<std::u16string, bool> Known(const std::string& content) {
    return {Hex(content), false};
}

TEST_F(DigestCacheTest, KnownFileIsNotReadAgainUntilSizeTimeOrInodeChanges) {
    const std::size_t max = digestcache::kMaxEntries;
    const std::string path = Write("a.jpg", "abc");
    {
        Cache cache(m_cache, max, kNoSettling);
        EXPECT_EQ(Digest(cache, path), Read("abc"));
        EXPECT_EQ(Digest(cache, path), Known("abc"));
    }
    // The next run knows it from the file.
    Cache cache(m_cache, max, kNoSettling);
    EXPECT_EQ(Digest(cache, path), Known("abc"));

    Date(path, 1); // one nanosecond later
    EXPECT_EQ(Digest(cache, path), Read("abc"));
    EXPECT_EQ(Digest(cache, path), Known("abc"));
    Write("a.jpg", "abc!", 1); // longer, its time set back as it was
    EXPECT_EQ(Digest(cache, path), Read("abc!"));
    Write("a.jpg", "xyz!", 1); // same size and time, but changed: its change time tells
    EXPECT_EQ(Digest(cache, path), Read("xyz!"));
    // Another file renamed over it: a new inode.
    const std::string other = Write("b.jpg", "xyz?", 1);
    ASSERT_EQ(::rename(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(Digest(cache, path), Read("xyz?"));
    EXPECT_EQ(Digest(cache, path), Known("xyz?"));
    EXPECT_EQ(cache.Size(), 1u); // one path, one digest
    // Nothing of the paths is in the cache file.
    EXPECT_EQ(CacheBytes().find("a.jpg"), std::string::npos);

    // Failures are passed on, not remembered.
    CFileSha1 sha;
    EXPECT_EQ(cache.FileSha1(m_dir + "/missing", sha), u"");
    EXPECT_EQ(sha.ErrorText(), "The file can't be opened!");
    EXPECT_EQ(cache.Size(), 1u);

    // A file changed a moment ago may still be written to: it is not remembered.
    Cache settling(u"");
    EXPECT_EQ(Digest(settling, path), Read("xyz?"));
    EXPECT_EQ(Digest(settling, path), Read("xyz?"));
    EXPECT_EQ(settling.Size(), 0u);
}

// A cache file is untrusted: bad records are skipped, a foreign or random file is a fresh
// start, and the file is written clean again. The number of entries is bounded.
TEST_F(DigestCacheTest, DamagedFilesAreSkippedAndEntriesBounded) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i)
        paths.push_back(Write("f" + std::to_string(i), "content " + std::to_string(i)));
    CFileSha1 sha;
    {
        Cache cache(m_cache, 3, kNoSettling);
        for (const std::string& p : paths)
            cache.FileSha1(p, sha);
        EXPECT_EQ(cache.Size(), 3u); // the two oldest went
    }
    std::string bytes = CacheBytes();
    bool damaged = true;
    std::vector<digestcache::Entry> entries = digestcache::ParseBytes(bytes, 100, &damaged);
    EXPECT_FALSE(damaged);
    ASSERT_EQ(entries.size(), 3u);

    // A flipped bit in the middle record, random bytes after it, and a record cut short.
    const std::size_t record = digestcache::EncodeRecord({}).size();
    bytes[digestcache::Header().size() + record + 30] ^= 1;
    std::mt19937 gen(5);
    for (std::size_t i = 0; i < record * 3 + 20; ++i)
        bytes.push_back(static_cast<char>(gen()));
    std::ofstream(platform::ToNarrow(m_cache), std::ios::binary) << bytes;
    {
        Cache cache(m_cache, 3, kNoSettling);
        EXPECT_EQ(cache.Size(), 2u);
        EXPECT_EQ(cache.FileSha1(paths[4], sha), Hex("content 4"));
        EXPECT_EQ(cache.FileSha1(paths[0], sha), Hex("content 0")); // read and stored again
    }
    entries = digestcache::ParseBytes(CacheBytes(), 100, &damaged);
    EXPECT_FALSE(damaged);
    EXPECT_EQ(entries.size(), 3u);

    for (std::string junk : {std::string(), std::string("QDGC"), std::string(5000, '\xff'),
                             digestcache::Header().substr(0, 11) + 'x' + bytes.substr(12)}) {
        std::ofstream(platform::ToNarrow(m_cache), std::ios::binary | std::ios::trunc) << junk;
        Cache cache(m_cache, 3, kNoSettling);
        EXPECT_EQ(cache.Size(), 0u);
        EXPECT_EQ(cache.FileSha1(paths[1], sha), Hex("content 1"));
        digestcache::ParseBytes(CacheBytes(), 100, &damaged);
        EXPECT_FALSE(damaged);
    }
}

TEST_F(DigestCacheTest, SeveralTransfersAtOnce) {
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i)
        paths.push_back(Write("t" + std::to_string(i), std::string(1000 + i, char('a' + i))));
    Cache cache(m_cache, 6, kNoSettling);
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            CFileSha1 sha;
            for (int round = 0; round < 40; ++round) {
                std::size_t i = static_cast<std::size_t>(round * (t + 1)) % paths.size();
                if (cache.FileSha1(paths[i], sha) != Hex(std::string(1000 + i, char('a' + i))))
                    ++wrong[static_cast<std::size_t>(t)];
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    EXPECT_LE(cache.Size(), 6u);
    bool damaged = true;
    EXPECT_LE(digestcache::ParseBytes(CacheBytes(), 1000, &damaged).size(), 6u + 1024u);
    EXPECT_FALSE(damaged);
}

} // namespace
