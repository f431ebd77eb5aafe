#include "app/global_var.h"
#include "platform/codepage.h"
#include "platform/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

// A copy of the sleeper program started under a chosen file name. It is running (under
// that name) once the constructor returns, and ends when the object goes away.
class NamedSleeper {
public:
    NamedSleeper(const fs::path& dir, const std::string& name) {
        fs::create_directories(dir);
        m_exe = dir / name;
        fs::copy_file(QUMO_TEST_SLEEPER, m_exe, fs::copy_options::overwrite_existing);
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        std::string path = m_exe.string();
        char* argv[] = {path.data(), nullptr};
        if (posix_spawn(&m_pid, path.c_str(), &fa, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(in[0]);
        close(out[1]);
        m_stdin = in[1];
        char c = 0;
        m_ready = m_pid > 0 && read(out[0], &c, 1) == 1 && c == 'r';
        close(out[0]);
    }
    ~NamedSleeper() {
        if (m_stdin >= 0)
            close(m_stdin); // the sleeper ends when its input closes
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    bool Ready() const { return m_ready; }

private:
    fs::path m_exe;
    pid_t m_pid = -1;
    int m_stdin = -1;
    bool m_ready = false;
};

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qumo_inst_XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        // A name of our own, so other programs running at the same time cannot disturb
        // the counts (kept within the 15 bytes of a command name).
        unique = "QumoT" + std::to_string(getpid() % 1000000);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    int Count(const std::string& name) {
        return platform::CountProcessesNamed(platform::FromNarrow(name));
    }
    fs::path root;
    std::string unique;
};

} // namespace

TEST_F(SingleInstanceTest, CountsRunningCopiesByFileNameIgnoringCase) {
    EXPECT_EQ(Count(unique), 0);
    {
        NamedSleeper one(root / "a", unique);
        ASSERT_TRUE(one.Ready());
        EXPECT_EQ(Count(unique), 1);
        std::string lower = unique;
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        NamedSleeper two(root / "b", lower);
        ASSERT_TRUE(two.Ready());
        EXPECT_EQ(Count(unique), 2);
        // Another file name is another program, even when it only adds to the name.
        NamedSleeper other(root / "c", unique + "x");
        ASSERT_TRUE(other.Ready());
        EXPECT_EQ(Count(unique), 2);
        EXPECT_EQ(Count(unique + "X"), 1);
    }
    EXPECT_EQ(Count(unique), 0); // ended and reaped copies are not counted
}

TEST_F(SingleInstanceTest, AnExecutableReplacedOnDiskStillCounts) {
    NamedSleeper one(root / "a", unique);
    ASSERT_TRUE(one.Ready());
    fs::remove(root / "a" / unique);
    EXPECT_EQ(Count(unique), 1);
}

TEST_F(SingleInstanceTest, SecondCopyUnderTheProgramsNameMeansAlreadyRunning) {
    NamedSleeper first(root / "a", platform::ToNarrow(kProgramFileName));
    NamedSleeper second(root / "b", "qumoclient");
    ASSERT_TRUE(first.Ready());
    ASSERT_TRUE(second.Ready());
    EXPECT_GE(platform::CountProcessesNamed(kProgramFileName), 2);
    EXPECT_TRUE(CGlobalVar::IsAlreadyRunning());
}
