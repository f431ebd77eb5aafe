// Handing paths and addresses to the desktop opener: one argument, never a shell.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "media/open_with_shell.h"
#include "platform/lasterror.h"
#include "platform/shell.h"

namespace fs = std::filesystem;

namespace {

class OpenWithShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qumo_open_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        // The stand-in opener writes its argument count and arguments, one per line.
        fs::path script = dir_ / "opener";
        std::ofstream(script)
            << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"$QUMO_OPENER_OUT.part\"\n"
               "mv \"$QUMO_OPENER_OUT.part\" \"$QUMO_OPENER_OUT\"\n";
        fs::permissions(script, fs::perms::owner_all);
        out_ = dir_ / "args";
        ::setenv("QUMO_OPENER_OUT", out_.c_str(), 1);
        platform::SetDesktopOpener(script.string());
    }
    void TearDown() override {
        platform::SetDesktopOpener("");
        ::unsetenv("QUMO_OPENER_OUT");
        fs::remove_all(dir_);
    }

    // What the opener received, once it has run (empty after 10 s without it).
    std::string Received() {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(out_) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ifstream f(out_);
        std::stringstream s;
        s << f.rdbuf();
        fs::remove(out_);
        return s.str();
    }

    fs::path dir_;
    fs::path out_;
};

} // namespace

TEST_F(OpenWithShellTest, AddressReachesTheOpenerAsOneArgument) {
    std::string touched = (dir_ / "pwned").string();
    std::u16string url = u"http://update.invalid/get?a=1&b=2;$(touch " +
                         fs::path(touched).u16string() + u") `id` 'q' \"dq\"";
    ASSERT_TRUE(OpenWithShell(url.c_str()));
    EXPECT_EQ(Received(),
              "1\nhttp://update.invalid/get?a=1&b=2;$(touch " + touched + ") `id` 'q' \"dq\"\n");
    EXPECT_FALSE(fs::exists(touched));
}

TEST_F(OpenWithShellTest, PathsKeepTheirBytesAndCannotPoseAsOptions) {
    ASSERT_TRUE(OpenWithShell(u"/home/用户/照片 1.jpg"));
    EXPECT_EQ(Received(), "1\n/home/用户/照片 1.jpg\n");
    ASSERT_TRUE(OpenWithShell(u"--help"));
    EXPECT_EQ(Received(), "1\n./--help\n");
}

TEST_F(OpenWithShellTest, MissingArgumentOrOpenerStartsNothing) {
    EXPECT_FALSE(OpenWithShell(nullptr));
    EXPECT_FALSE(OpenWithShell(u""));
    platform::SetDesktopOpener((dir_ / "no-such-opener").string());
    EXPECT_FALSE(OpenWithShell(u"/tmp/x.jpg"));
    EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrFileNotFound);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fs::exists(out_));
}
