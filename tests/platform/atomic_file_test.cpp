#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/lasterror.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qumo_atomic_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override {
        platform::SetAtomicWriteHook(nullptr);
        ::chmod(m_dir.c_str(), 0700);
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string Path(const char* name) const { return m_dir + "/" + name; }
    std::u16string Path16(const char* name) const { return platform::FromNarrow(Path(name)); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void WriteRaw(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static unsigned Mode(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(m_dir.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") {
                    names.push_back(n);
                }
            }
            ::closedir(d);
        }
        return names;
    }

    std::string m_dir;
};

TEST_F(AtomicFile, CreatesAndReplacesWithTheRightPermissions) {
    const std::string data("a\0b\xff", 4);
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("new"), data.data(), data.size()));
    EXPECT_EQ(Read(Path("new")), data);
    EXPECT_EQ(Mode(Path("new")), 0644u);

    WriteRaw(Path("kept"), std::string(10000, 'o'));
    ::chmod(Path("kept").c_str(), 0640);
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("kept"), "short", 5));
    EXPECT_EQ(Read(Path("kept")), "short");
    EXPECT_EQ(Mode(Path("kept")), 0640u);

    // A password file gets its mode before it becomes visible under its name.
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("secret"), "pw", 2, 0600));
    EXPECT_EQ(Mode(Path("secret")), 0600u);
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("kept"), "", 0, 0600));
    EXPECT_EQ(Read(Path("kept")), "");
    EXPECT_EQ(Mode(Path("kept")), 0600u);

    EXPECT_EQ(Entries().size(), 3u);
}

TEST_F(AtomicFile, FailedWritesLeaveTheOldFileByteIdentical) {
    const std::string old = "old content\r\n\0tail";
    WriteRaw(Path("f"), old);
    const std::string big(100000, 'n');

    // The disk fills after part of the data.
    platform::SetAtomicWriteHook([](int fd, const void* data, std::size_t n) -> ssize_t {
        if (n == 100000) {
            return ::write(fd, data, 4096);
        }
        errno = ENOSPC;
        return -1;
    });
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(platform::WriteFileAtomic(Path16("f"), big.data(), big.size()));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrDiskFull);
    EXPECT_EQ(Read(Path("f")), old);

    // A write that makes no progress must not spin.
    platform::SetAtomicWriteHook([](int, const void*, std::size_t) -> ssize_t { return 0; });
    EXPECT_FALSE(platform::WriteFileAtomic(Path16("f"), big.data(), big.size()));
    EXPECT_EQ(Read(Path("f")), old);

    // Interrupted and short writes are carried on to the end.
    static std::atomic<int> calls{0};
    calls = 0;
    platform::SetAtomicWriteHook([](int fd, const void* data, std::size_t n) -> ssize_t {
        if (calls++ % 2 == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, data, n < 3 ? n : 3);
    });
    EXPECT_TRUE(platform::WriteFileAtomic(Path16("f"), "0123456789", 10));
    EXPECT_EQ(Read(Path("f")), "0123456789");
    platform::SetAtomicWriteHook(nullptr);

    EXPECT_EQ(Entries(), std::vector<std::string>{"f"});
}

TEST_F(AtomicFile, RefusesWhatCannotOrMustNotBeReplaced) {
    ASSERT_EQ(::mkdir(Path("dir").c_str(), 0755), 0);
    WriteRaw(Path("dir/inside"), "x");
    EXPECT_FALSE(platform::WriteFileAtomic(Path16("dir"), "data", 4));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);
    EXPECT_EQ(Read(Path("dir/inside")), "x");

    EXPECT_FALSE(platform::WriteFileAtomic(Path16("nofolder/f"), "data", 4));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);

    EXPECT_FALSE(platform::WriteFileAtomic(u"", "data", 4));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);
    EXPECT_FALSE(platform::WriteFileAtomic(Path16("f"), nullptr, 4));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrInvalidParameter);

    if (::geteuid() != 0) {
        WriteRaw(Path("ro"), "read only");
        ::chmod(Path("ro").c_str(), 0444);
        EXPECT_FALSE(platform::WriteFileAtomic(Path16("ro"), "new", 3));
        EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);
        EXPECT_EQ(Read(Path("ro")), "read only");

        WriteRaw(Path("f"), "old");
        ::chmod(m_dir.c_str(), 0555);
        EXPECT_FALSE(platform::WriteFileAtomic(Path16("f"), "new", 3));
        EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrAccessDenied);
        ::chmod(m_dir.c_str(), 0700);
        EXPECT_EQ(Read(Path("f")), "old");
    }
}

TEST_F(AtomicFile, WritesThroughASymbolicLink) {
    WriteRaw(Path("target"), "old");
    ASSERT_EQ(::symlink("target", Path("link").c_str()), 0);
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("link"), "new", 3));
    struct stat st;
    ASSERT_EQ(::lstat(Path("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read(Path("target")), "new");
}

TEST_F(AtomicFile, ReadersNeverSeeAPartialFile) {
    const std::string a(64 * 1024, 'a');
    const std::string b(32 * 1024, 'b');
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("f"), a.data(), a.size()));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            const std::string seen = Read(Path("f"));
            if (seen != a && seen != b) {
                ++torn;
            }
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
        writers.emplace_back([&, t] {
            const std::string& mine = t ? b : a;
            for (int i = 0; i < 20; ++i) {
                EXPECT_TRUE(platform::WriteFileAtomic(Path16("f"), mine.data(), mine.size()));
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(Entries(), std::vector<std::string>{"f"});
}

} // namespace

// A process killed between creating its temporary file and the rename leaves the file
// behind; the next successful write of the same file clears such leftovers once they are
// old, and leaves young ones (a write in progress), other files' and odd names alone.
TEST_F(AtomicFile, OldLeftoversOfAKilledWriterGoWithTheNextWrite) {
    const std::string stale = Path(".list.xml.aB3xQ9");
    const std::string young = Path(".list.xml.Zz0000");
    const std::string other = Path(".other.xml.aB3xQ9");
    const std::string longer = Path(".list.xml.aB3xQ9x");
    for (const std::string& p : {stale, young, other, longer})
        WriteRaw(p, "half");
    const time_t old = ::time(nullptr) - platform::kStaleTemporarySeconds - 60;
    for (const std::string& p : {stale, other, longer}) {
        struct timespec times[2] = {{old, 0}, {old, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    }
    ASSERT_TRUE(platform::WriteFileAtomic(Path16("list.xml"), "new", 3));
    EXPECT_EQ(Read(Path("list.xml")), "new");
    EXPECT_NE(::access(stale.c_str(), F_OK), 0);
    for (const std::string& p : {young, other, longer})
        EXPECT_EQ(::access(p.c_str(), F_OK), 0) << p;
}
