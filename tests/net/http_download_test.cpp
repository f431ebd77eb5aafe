// DownLoadUrlFile: a 200 body lands in the file whole; a failure never leaves a half file
// under the real name, is tried twice and logged once.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/log_testing.h"
#include "net/http_get.h"
#include "net/http_get_with.h"
#include "platform/codepage.h"
#include "platform/paths.h"
#include "script_server.h"

namespace fs = std::filesystem;

namespace {

class Download : public testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("qumo_dl_" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "log");
        platform::OverrideModuleFileName((root_ / "QumoClient").u16string());
        ResetLogForTesting();
    }
    void TearDown() override {
        platform::OverrideModuleFileName(u"");
        ResetLogForTesting();
        fs::remove_all(root_);
    }
    std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // The log is UTF-16LE; only ASCII matters here.
    std::string LogText() {
        std::string raw = Read(root_ / "log" / "QumoClient.log"), out;
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2)
            if (raw[i + 1] == 0 && raw[i] != 0)
                out += raw[i];
        return out;
    }
    std::size_t FilesIn(const fs::path& dir) {
        std::size_t n = 0;
        for (auto& e : fs::directory_iterator(dir))
            n += e.is_regular_file() ? 1 : 0;
        return n;
    }
    HttpTimings Fast() {
        HttpTimings t;
        t.readTimeoutMs = 300;
        t.connectTimeoutMs = 1000;
        return t;
    }
    fs::path root_;
};

TEST_F(Download, WritesBodyOfSuccess) {
    ScriptServer srv;
    std::string png("\x89PNG\r\n\x1a\n\0\0binary", 16);
    srv.Add([&](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, png));
    });
    fs::path file = root_ / "avatar.png";
    std::u16string url = platform::FromNarrow(srv.Url("/head/7.png"));
    DownLoadUrlFileWith(url.c_str(), file.u16string().c_str(), Fast());
    EXPECT_EQ(Read(file), png); // zero bytes and all
    EXPECT_EQ(FilesIn(root_), 1u);
    EXPECT_EQ(srv.Requests().size(), 1u);
}

TEST_F(Download, SecondAttemptSucceeds) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(500, "busy"));
    });
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, "second"));
    });
    fs::path file = root_ / "a.jpg";
    std::u16string url = platform::FromNarrow(srv.Url("/a.jpg"));
    DownLoadUrlFileWith(url.c_str(), file.u16string().c_str(), Fast());
    EXPECT_EQ(Read(file), "second");
    EXPECT_EQ(LogText().find("DownLoadUrlFile"), std::string::npos);
}

TEST_F(Download, TwoFailuresKeepOldFileAndLogOnce) {
    ScriptServer srv;
    for (int i = 0; i < 2; ++i)
        srv.Add([](ScriptConn& c) {
            c.ReadRequest();
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf of it");
        });
    fs::path file = root_ / "a.jpg";
    { std::ofstream(file) << "old picture"; }
    std::u16string url = platform::FromNarrow(srv.Url("/a.jpg"));
    DownLoadUrlFileWith(url.c_str(), file.u16string().c_str(), Fast());
    EXPECT_EQ(Read(file), "old picture");
    EXPECT_EQ(srv.Requests().size(), 2u);
    EXPECT_EQ(FilesIn(root_), 1u); // no temporary left behind
    std::string log = LogText();
    std::string line = "DownLoadUrlFile " + file.string() + " failed.";
    ASSERT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line));
}

TEST_F(Download, FollowsRedirectsToOtherHostsOverPlainHttpOnly) {
    ScriptServer pictures;
    pictures.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(200, "picture"));
    });
    ScriptServer api;
    const std::string there = "http://localhost:" + std::to_string(pictures.Port()) + "/p/1.png";
    api.Add([there](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(302, "", "Location: " + there + "\r\n"));
    });
    fs::path file = root_ / "avatar.png";
    std::u16string url = platform::FromNarrow(api.Url("/head/7.png"));
    DownLoadUrlFileWith(url.c_str(), file.u16string().c_str(), Fast());
    EXPECT_EQ(Read(file), "picture");
    ASSERT_EQ(pictures.Requests().size(), 1u);
    EXPECT_EQ(pictures.Requests()[0].rfind("GET /p/1.png HTTP/1.1\r\nHost: localhost\r\n", 0), 0u);

    // Any other scheme ends the attempt without a request.
    ScriptServer odd;
    for (const char* to : {"file:///etc/hostname", "https://localhost/p/1.png"})
        odd.Add([to](ScriptConn& c) {
            c.ReadRequest();
            c.Send(Reply(301, "", std::string("Location: ") + to + "\r\n"));
        });
    fs::path other = root_ / "other.png";
    url = platform::FromNarrow(odd.Url("/x.png"));
    DownLoadUrlFileWith(url.c_str(), other.u16string().c_str(), Fast());
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(odd.Requests().size(), 2u);
    EXPECT_EQ(pictures.Requests().size(), 1u);
}

TEST_F(Download, FailureLeavesNoFile) {
    ScriptServer srv;
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(404, "no"));
    });
    srv.Add([](ScriptConn& c) {
        c.ReadRequest();
        c.Send(Reply(404, "no"));
    });
    fs::path file = root_ / "missing.jpg";
    std::u16string url = platform::FromNarrow(srv.Url("/m.jpg"));
    DownLoadUrlFile(url.c_str(), file.u16string().c_str());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_NE(LogText().find("DownLoadUrlFile"), std::string::npos);
}

} // namespace
