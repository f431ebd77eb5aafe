// What keeps strangers out of a real service: the quota held by announced uploads, an upload
// taken back from a sender that stalls, slowed password guessing, limited account creation,
// the admin secret, a request log without secrets, and real thumbnails of real pictures.
#include "tests/service/service_client.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

Json::Value Over(const ServiceProcess& svc, const Login& me, const Json::Value& a,
                 const std::string& data) {
    Json::Value v;
    UpGet(svc,
          "/v2/uploadover.json?" + UpIds(me, a) +
              "&upchannel=4&suffix=png&pname=&folderid=0&sha1=" + Sha1Of(data) +
              "&size=" + std::to_string(data.size()),
          v);
    return v;
}

std::string PostTarget(const Login& me, const Json::Value& a) {
    return "/v2/upload.json?" + UpIds(me, a) + "&upchannel=4&suffix=png&folderid=0";
}

TEST(ServiceGuard, AnnouncedUploadsHoldTheQuotaUntilFinishedOrAbandoned) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--abandon-after", "2"})) << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 10));
    const int64_t room = (10 << 20) - UsedBytes(svc, me);
    // Announced together, before any finished: only what fits is opened.
    std::string a3 = RandomBytes(static_cast<size_t>(room / 3), 1);
    int opened = 0, refused = 0;
    Json::Value first;
    for (int i = 0; i < 5; ++i) {
        Json::Value a;
        ASSERT_TRUE(Announce(svc, me, 0, "q" + std::to_string(i) + ".png",
                             Sha1Of(a3 + std::to_string(i)), a3.size(), a));
        int st = a["attachment"]["status"].asInt();
        opened += st == 0;
        refused += st == 5;
        if (i == 0)
            first = a;
    }
    EXPECT_EQ(opened, 3);
    EXPECT_EQ(refused, 2);
    // The space is checked again at the end: lowered meanwhile, the upload is not counted.
    std::string small = RandomBytes(4000, 2);
    Json::Value s;
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 20));
    ASSERT_TRUE(Announce(svc, me, 0, "late.png", Sha1Of(small), small.size(), s));
    ASSERT_EQ(s["attachment"]["status"].asInt(), 0);
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(me, s), small, r));
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 0));
    int64_t used = UsedBytes(svc, me);
    EXPECT_EQ(Over(svc, me, s, small)["status"].asInt(), 413);
    EXPECT_EQ(UsedBytes(svc, me), used);
    // Left alone longer than the abandon time, sessions end with their bytes and give the
    // space back.
    ASSERT_TRUE(RawPostPartial(svc.UploadPort(), PostTarget(me, first), a3, 5000));
    for (int i = 0; i < 100 && svc.Counter("uploads_abandoned") < 4; ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(svc.Counter("uploads_abandoned"), 4);
    EXPECT_EQ(GetUploadByte(svc, me, first), -1);
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 10));
    Json::Value again;
    ASSERT_TRUE(Announce(svc, me, 0, "q9.png", Sha1Of(a3 + "9"), a3.size(), again));
    EXPECT_EQ(again["attachment"]["status"].asInt(), 0);
}

TEST(ServiceGuard, ASenderThatStallsLosesTheUploadToItsOwner) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--upload-stall-ms", "600"})) << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    std::string data = RandomBytes(50000, 3);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "slow.png", Sha1Of(data), data.size(), a));
    // A byte every 200 ms keeps the connection busy but makes no progress.
    int fd = RawOpenPost(svc.UploadPort(), PostTarget(me, a), data.size(), data.substr(0, 10));
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (size_t i = 10; i < 40 && !stop; ++i) {
            if (::send(fd, &data[i], 1, MSG_NOSIGNAL) != 1)
                break;
            std::this_thread::sleep_for(200ms);
        }
    });
    bool done = false;
    for (int i = 0; i < 50 && !done; ++i) {
        std::this_thread::sleep_for(100ms);
        int64_t at = GetUploadByte(svc, me, a);
        RawResponse r;
        Json::Value v;
        done =
            at >= 0 &&
            RawPost(svc.UploadPort(), PostTarget(me, a), data.substr(static_cast<size_t>(at)), r) &&
            ParseJson(r.body, v) && v["status"].asInt() == 200;
    }
    stop = true;
    trickle.join();
    ::close(fd);
    EXPECT_TRUE(done);
    EXPECT_GE(svc.Counter("stalled_uploads"), 1);
    EXPECT_EQ(Over(svc, me, a, data)["status"].asInt(), 200);
}

TEST(ServiceGuard, PasswordGuessingAndAccountCreationAreLimited) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--lockout-ms", "500", "--accounts-per-hour", "3"}))
        << svc.Error();
    auto login = [&](const std::string& mobile, const std::string& pwd) {
        Json::Value v;
        EXPECT_TRUE(ApiGet(svc, "/mobilelogin.json?mobile=" + mobile + "&pwd=" + Md5Of(pwd), v));
        return v;
    };
    const std::string demo = ServiceProcess::DemoMobile(), right = ServiceProcess::DemoPassword();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(login(demo, "wrong")["message"].asString(), "用户名或密码错误，请重新输入！");
    // Refused for a while, even with the right password, with a reason the window shows.
    Json::Value refused = login(demo, right);
    EXPECT_EQ(refused["status"].asInt(), 405);
    EXPECT_NE(refused["message"].asString().find("登录失败次数过多"), std::string::npos);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(login(demo, right)["status"].asInt(), 200);
    // Per client address too: one failure each on twenty accounts locks the address.
    for (int i = 0; i < 20; ++i)
        login("1390000" + std::to_string(1000 + i), "x");
    EXPECT_EQ(login(demo, right)["status"].asInt(), 405);
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(login(demo, right)["status"].asInt(), 200);

    // Partner sign-ins create accounts; only three an hour from one address.
    auto signIn = [&](const std::string& account) {
        std::string form = "account=" + account + "&password=pw123456";
        RawResponse r;
        EXPECT_TRUE(RawExchange(svc.ApiPort(),
                                "POST /openuser/sina HTTP/1.1\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: " +
                                    std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" +
                                    form,
                                r));
        return r.status;
    };
    int created = 0;
    for (int i = 0; i < 6; ++i)
        created += signIn("fan" + std::to_string(i)) == 302;
    EXPECT_EQ(created, 3);
    EXPECT_EQ(signIn("fan0"), 302); // an existing partner account still signs in
}

TEST(ServiceGuard, AdminCallsNeedTheSecretAndPostAndTheLogKeepsNoSecrets) {
    ServiceProcess svc;
    svc.SetExactRequestLog(false);
    ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    Json::Value v;
    ASSERT_TRUE(ApiGet(svc, "/getspace.json?" + Auth(me), v));
    auto call = [&](const std::string& method, const std::string& target,
                    const std::string& secret) {
        RawResponse r;
        std::string head = method + " " + target + " HTTP/1.1\r\nContent-Length: 0\r\n";
        if (!secret.empty())
            head += "X-Qumo-Admin: " + secret + "\r\n";
        EXPECT_TRUE(RawExchange(svc.ApiPort(), head + "Connection: close\r\n\r\n", r));
        return r.status;
    };
    EXPECT_EQ(call("POST", "/admin/faults?delay_ms=1", ""), 403);
    EXPECT_EQ(call("POST", "/admin/faults?delay_ms=1", std::string(32, '0')), 403);
    EXPECT_EQ(call("GET", "/admin/faults?delay_ms=1", svc.AdminSecret()), 405);
    EXPECT_EQ(call("GET", "/admin/space?mobile=13800138000&mb=1", svc.AdminSecret()), 405);
    EXPECT_EQ(call("GET", "/admin/requests", ""), 403);
    EXPECT_EQ(call("POST", "/admin/faults?delay_ms=0", svc.AdminSecret()), 200);
    std::string log = svc.Admin("/admin/requests");
    EXPECT_NE(log.find("/getspace.json?uid=" + me.uid + "&token=-"), std::string::npos) << log;
    EXPECT_EQ(log.find(me.token), std::string::npos);
    EXPECT_EQ(log.find(Md5Of(ServiceProcess::DemoPassword())), std::string::npos);
}

// A two-colour GIF written by hand (Qt reads GIF but does not write it): LZW with a clear
// code after every two pixels keeps every code 3 bits wide.
std::string TwoColourGif(int w, int h) {
    std::string g = "GIF89a";
    auto u16 = [&](int v) {
        g += static_cast<char>(v & 0xFF);
        g += static_cast<char>(v >> 8);
    };
    u16(w);
    u16(h);
    g += std::string("\x80\0\0\xFF\0\0\0\0\xFF", 9); // two colours: red, blue
    g += ',';
    u16(0);
    u16(0);
    u16(w);
    u16(h);
    g += '\0';
    g += '\x02';
    std::string data;
    uint32_t acc = 0;
    int bits = 0;
    auto code = [&](int c) {
        acc |= static_cast<uint32_t>(c) << bits;
        for (bits += 3; bits >= 8; bits -= 8, acc >>= 8)
            data += static_cast<char>(acc & 0xFF);
    };
    for (int i = 0; i < w * h; ++i) {
        if (i % 2 == 0)
            code(4); // clear
        code((i % w) < w / 2 ? 0 : 1);
    }
    code(5); // end
    if (bits > 0)
        data += static_cast<char>(acc & 0xFF);
    for (size_t at = 0; at < data.size(); at += 255) {
        std::string block = data.substr(at, 255);
        g += static_cast<char>(block.size());
        g += block;
    }
    return g + std::string("\0;", 2);
}

// A picture whose left half is red and right half blue, in the given format.
std::string TwoColours(int w, int h, const char* format) {
    if (std::string(format) == "gif")
        return TwoColourGif(w, h);
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::blue);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w / 2; ++x)
            img.setPixel(x, y, qRgb(255, 0, 0));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QImageWriter(&buf, format).write(img);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

TEST(ServiceGuard, PicturesGetRealThumbnails) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    for (const char* format : {"jpeg", "png", "gif", "bmp"}) {
        std::string bytes = TwoColours(1600, 800, format);
        ASSERT_FALSE(bytes.empty()) << format;
        int64_t id = UploadWhole(svc, me, 0, std::string("two.") + format, bytes);
        ASSERT_GT(id, 0) << format;
        Json::Value e = EntryOf(svc, me, 0, id);
        for (auto [url, w] :
             {std::pair{e["bigpic"].asString(), 800},
              std::pair{"http://" + svc.ApiHost() + "/" + e["mobilepic"].asString(), 200}}) {
            std::string png = Fetch(svc, url);
            QImage pic = QImage::fromData(reinterpret_cast<const uchar*>(png.data()),
                                          static_cast<int>(png.size()), "png");
            ASSERT_EQ(pic.size(), QSize(w, w / 2)) << format << " " << url;
            QColor left = pic.pixelColor(w / 8, w / 4), right = pic.pixelColor(w * 7 / 8, w / 4);
            EXPECT_GT(left.red(), 200) << format;
            EXPECT_LT(left.blue(), 60) << format;
            EXPECT_GT(right.blue(), 200) << format;
            EXPECT_LT(right.red(), 60) << format;
        }
    }
}

} // namespace
