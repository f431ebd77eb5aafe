// A server that sends hostile names and picture paths: the listing shows the names as
// sent, saves every picture inside the cache directory under a safe name, and never puts
// a line break into a request.
#include "serverdir/file_download_thread.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "media/thumbnail.h"
#include "net/hosts.h"
#include "tests/media/preview_fake.h"
#include "tests/net/script_server.h"
#include "tests/serverdir/serverdir_test_util.h"

namespace {

using namespace sdtest;

std::string RedPng() {
    QImage img(40, 30, QImage::Format_RGB888);
    img.fill(Qt::red);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "PNG");
    return bytes.toStdString();
}

class NoControls : public IControlTextSink {
public:
    void SetControlText(const char16_t*, const std::u16string& text) override {
        count = platform::ToNarrow(text);
    }
    std::string count;
};

const char* const kList =
    R"({"status":200,"debug":"","message":"","attachment":{"size":7,"filelist":[
 {"name":"../../x","dirid":"9","type":1,"timestamp":"1","id":"11","size":1,"suffix":"png","mobilepic":"p.png"},
 {"name":"..","dirid":"9","type":1,"timestamp":"1","id":"12","size":1,"suffix":"jpg","mobilepic":"p.png"},
 {"name":"a/b","dirid":"9","type":1,"timestamp":"1","id":"13","size":1,"suffix":"png","mobilepic":"p.png"},
 {"name":"x\u0000y","dirid":"9","type":200,"timestamp":"1","id":"14","size":1,"suffix":"mp4","mobilepic":"v.png"},
 {"name":"/etc/passwd","dirid":"9","type":1,"timestamp":"1","id":"15","size":1,"suffix":"gif","mobilepic":"p.png"},
 {"name":"sub/..","dirid":"9","type":100,"timestamp":"1","fid":"16"},
 {"name":"inject","dirid":"9","type":1,"timestamp":"1","id":"17","size":1,"suffix":"png","mobilepic":"p.png HTTP/1.1\r\nX-Evil: 1\r\n\r\nGET /"}
]}})";

TEST(FileDownLoadNames, HostileNamesStayInsideTheCache) {
    InstallRoot ir;
    const fs::path cache = ir.Tmp() / "root" / "folder";
    fs::create_directories(cache);
    std::ofstream(ir.Root() / "lib" / "x") << "keep lib/x";
    std::ofstream(ir.Tmp() / "x") << "keep tmp/x";
    std::ofstream(ir.Tmp() / "root" / "x") << "keep root/x";
    auto outsideFolder = [&] {
        auto all = Snapshot(ir.Root());
        for (auto it = all.begin(); it != all.end();)
            it = it->first.rfind("lib/tmp/root/folder", 0) == 0 ? all.erase(it) : std::next(it);
        all.erase("bin/log/QumoClient.log");
        return all;
    };
    const auto before = outsideFolder();

    const std::string png = RedPng();
    ScriptServer server;
    for (int i = 0; i < 40; ++i) {
        server.Add([&png](ScriptConn& c) {
            for (std::string req = c.ReadRequest(); !req.empty(); req = c.ReadRequest()) {
                if (req.rfind("GET /getfilesforpc.json?", 0) == 0)
                    c.Send(Reply(200, kList, "Content-Type: application/json\r\n"));
                else
                    c.Send(Reply(200, png, "Content-Type: image/png\r\n"));
            }
        });
    }
    const std::string pic = hosts::Picture(), vid = hosts::VideoThumb(), api = hosts::Api();
    hosts::SetAllServiceHosts("127.0.0.1:" + std::to_string(server.Port()));

    FakePreview preview;
    NoControls controls;
    {
        FileDownLoadThread worker(preview, controls, 9, platform::FromNarrow(cache.string()));
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitEnded(worker, 20000));
    }
    hosts::SetPicture(pic);
    hosts::SetVideoThumb(vid);
    hosts::SetApi(api);

    EXPECT_EQ(controls.count, "7个文件");
    EXPECT_EQ(outsideFolder(), before);
    // Shown as sent (a NUL included); stored under safe names.
    std::vector<std::u16string> expectedNames = {u"../../x",         u"..",
                                                 u"a/b.png",         std::u16string(u"x\0y.mp4", 7),
                                                 u"/etc/passwd.gif", u"inject.png"};
    EXPECT_EQ(preview.state.names, expectedNames);
    EXPECT_EQ(preview.state.records.size(), 7u);
    EXPECT_EQ(Names(cache), (std::vector<std::string>{"%2E.", "%2Fetc%2Fpasswd.gif", "..%2F..%2Fx",
                                                      "a%2Fb.png", "x%00y.mp4"}));
    // The pictures that arrived are drawn; the one never asked for is white.
    std::vector<QImage> images = preview.Images();
    ASSERT_EQ(images.size(), 6u);
    EXPECT_EQ(images[0].pixel(80, 60), qRgb(255, 0, 0));
    EXPECT_EQ(images[3].pixel(80, 60), qRgb(255, 0, 0));
    EXPECT_EQ(images[5], WhiteThumbnail());

    // One list request and five picture requests, none carrying a second line of ours.
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    for (const std::string& r : requests)
        EXPECT_EQ(r.find("X-Evil"), std::string::npos) << r;
    EXPECT_NE(requests[4].find("GET /v.png HTTP/1.1\r\n"), std::string::npos) << requests[4];
    EXPECT_NE(ir.LogText().find("DownLoadUrlFile " + (cache / "inject.png").string() + " failed."),
              std::string::npos);
}

TEST(FileDownLoadNames, EmptyPagesCountAsFailedAttempts) {
    // "size" promises entries that never come: every page is empty.
    InstallRoot ir;
    const fs::path cache = ir.Tmp() / "root" / "folder";
    fs::create_directories(cache);
    ScriptServer server;
    for (int i = 0; i < 20; ++i) {
        server.Add([](ScriptConn& c) {
            for (std::string req = c.ReadRequest(); !req.empty(); req = c.ReadRequest())
                c.Send(Reply(200, R"({"status":200,"attachment":{"size":1000000,"filelist":[]}})"));
        });
    }
    const std::string api = hosts::Api();
    hosts::SetApi("127.0.0.1:" + std::to_string(server.Port()));
    FakePreview preview;
    NoControls controls;
    {
        FileDownLoadThread worker(preview, controls, 9, platform::FromNarrow(cache.string()));
        ASSERT_TRUE(worker.Start());
        ASSERT_TRUE(WaitEnded(worker, 20000));
    }
    hosts::SetApi(api);
    EXPECT_EQ(controls.count, "1000000个文件");
    EXPECT_EQ(server.Requests().size(), static_cast<std::size_t>(kFileListMaxFailures));
    EXPECT_TRUE(preview.state.records.empty());
}

} // namespace
