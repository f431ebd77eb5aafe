// Uploads against a real service: whole files, instant upload, no space, resume after a
// dropped connection and after a crash, SHA-1 mismatch, refusals.
#include "tests/service/service_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

namespace {

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
        ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    }
    std::string PostTarget(const Json::Value& a) const {
        return "/v2/upload.json?" + UpIds(me, a) + "&upchannel=4&suffix=png&folderid=0";
    }
    Json::Value Over(const Json::Value& a, const std::string& sha1, size_t size) const {
        Json::Value v;
        EXPECT_TRUE(UpGet(svc,
                          "/v2/uploadover.json?" + UpIds(me, a) +
                              "&upchannel=4&suffix=png&pname=&folderid=0&sha1=" + sha1 +
                              "&size=" + std::to_string(size),
                          v));
        return v;
    }
    // The stored bytes of file `id`, through the source address its listing entry names.
    std::string Source(int64_t id, int64_t folder = 0) const {
        return Fetch(svc, EntryOf(svc, me, folder, id)["source"].asString());
    }
    // Waits until the service has taken `n` body bytes in all (it writes as it reads).
    void WaitForBytes(long long n) const {
        for (int i = 0; i < 500 && svc.Counter("upload_bytes") < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(svc.Counter("upload_bytes"), n);
    }
    ServiceProcess svc;
    Login me;
};

TEST_F(UploadTest, WholeFileArrivesWithItsBytesAndGrowsUsedSpace) {
    std::string data = RandomBytes(300000, 1);
    int64_t used = UsedBytes(svc, me);
    int64_t id = UploadWhole(svc, me, 0, "one.png", data);
    ASSERT_GT(id, 0);
    EXPECT_EQ(Source(id), data);
    EXPECT_EQ(UsedBytes(svc, me), used + 300000);
    // A picture that is not decodable still gets a small picture on the picture host.
    Json::Value list;
    ASSERT_TRUE(ApiGet(svc,
                       "/getfilesforpc.json?" + Auth(me) + "&mid=" + std::to_string(id - 1) +
                           "&folderid=0&num=1",
                       list));
    ASSERT_EQ(list["attachment"]["filelist"].size(), 1u);
    const Json::Value& e = list["attachment"]["filelist"][0];
    EXPECT_EQ(e["id"].asString(), std::to_string(id));
    EXPECT_EQ(e["size"].asUInt(), 300000u);
    RawResponse pic;
    ASSERT_TRUE(RawGet(svc.ApiPort(), "/" + e["mobilepic"].asString(), pic));
    EXPECT_EQ(pic.status, 200);
    EXPECT_EQ(pic.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST_F(UploadTest, KnownContentIsAnInstantUploadWithoutSpace) {
    std::string data = RandomBytes(5000, 2);
    ASSERT_GT(UploadWhole(svc, me, 0, "first.png", data), 0);
    int64_t used = UsedBytes(svc, me);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 1004, "copy.png", Sha1Of(data), data.size(), a));
    EXPECT_EQ(a["attachment"]["status"].asInt(), 1);
    EXPECT_EQ(UsedBytes(svc, me), used);
    EXPECT_EQ(svc.Counter("instant_uploads"), 1);
    // Same name, content and folder again: no second entry.
    Json::Value again;
    ASSERT_TRUE(Announce(svc, me, 1004, "copy.png", Sha1Of(data), data.size(), again));
    EXPECT_EQ(again["attachment"]["id"], a["attachment"]["id"]);
    // Same SHA-1 but another size is other content.
    Json::Value other;
    ASSERT_TRUE(Announce(svc, me, 1004, "copy.png", Sha1Of(data), data.size() + 1, other));
    EXPECT_EQ(other["attachment"]["status"].asInt(), 0);
}

TEST_F(UploadTest, ReannouncingGivesTheSameSession) {
    std::string data = RandomBytes(1000, 3);
    Json::Value a, b, c;
    ASSERT_TRUE(Announce(svc, me, 0, "x.png", Sha1Of(data), data.size(), a));
    ASSERT_TRUE(Announce(svc, me, 0, "x.png", Sha1Of(data), data.size(), b));
    ASSERT_TRUE(Announce(svc, me, 1004, "x.png", Sha1Of(data), data.size(), c));
    EXPECT_EQ(a["attachment"]["mid"], b["attachment"]["mid"]);
    EXPECT_EQ(a["attachment"]["upid"], b["attachment"]["upid"]);
    EXPECT_NE(a["attachment"]["mid"], c["attachment"]["mid"]);
    EXPECT_EQ(a["attachment"]["uploadip"].asString(), svc.UploadHost());
}

TEST_F(UploadTest, NoSpaceRefusesWithStatusFive) {
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 1));
    int64_t used = UsedBytes(svc, me);
    size_t room = static_cast<size_t>((1 << 20) - used);
    Json::Value fits, over;
    ASSERT_TRUE(Announce(svc, me, 0, "fits.png", Sha1Of("a"), room, fits));
    EXPECT_EQ(fits["attachment"]["status"].asInt(), 0);
    ASSERT_TRUE(Announce(svc, me, 0, "over.png", Sha1Of("b"), room + 1, over));
    EXPECT_EQ(over["status"].asInt(), 200);
    EXPECT_EQ(over["attachment"]["status"].asInt(), 5);
    EXPECT_EQ(svc.Counter("refused_no_space"), 1);
}

TEST_F(UploadTest, ConcurrentUploadsOfOneAccountNearItsQuotaFitExactly) {
    // Room for four of the eight files; every exchange is slowed so they all overlap.
    ASSERT_TRUE(svc.SetSpace(ServiceProcess::DemoMobile(), 2));
    ASSERT_TRUE(svc.SetFault("delay_ms", 20));
    const int64_t used = UsedBytes(svc, me);
    const size_t size = static_cast<size_t>(((2 << 20) - used) * 2 / 9);
    std::vector<std::string> data;
    std::vector<int64_t> ids(8, 0);
    for (uint32_t i = 0; i < 8; ++i)
        data.push_back(RandomBytes(size, 100 + i));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            ids[i] = UploadWhole(svc, me, 0, "many" + std::to_string(i) + ".png", data[i]);
        });
    for (std::thread& t : threads)
        t.join();
    ASSERT_TRUE(svc.SetFault("delay_ms", 0));
    std::set<int64_t> distinct;
    for (size_t i = 0; i < 8; ++i)
        if (ids[i] > 0) {
            distinct.insert(ids[i]);
            EXPECT_EQ(Source(ids[i]), data[i]);
        }
    EXPECT_EQ(distinct.size(), 4u);
    EXPECT_EQ(svc.Counter("refused_no_space"), 4);
    EXPECT_EQ(svc.Counter("uploads_finished"), 4);
    EXPECT_EQ(UsedBytes(svc, me), used + 4 * static_cast<int64_t>(size));
}

TEST_F(UploadTest, DroppedConnectionResumesAtTheDurableOffset) {
    std::string data = RandomBytes(200000, 4);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "drop.png", Sha1Of(data), data.size(), a));
    ASSERT_TRUE(svc.SetFault("drop_after", 70001));
    RawResponse r;
    EXPECT_FALSE(RawPost(svc.UploadPort(), PostTarget(a), data, r) && r.status == 200);
    EXPECT_EQ(svc.Counter("dropped_connections"), 1);
    ASSERT_EQ(GetUploadByte(svc, me, a), 70001);
    // The drop was for one connection only; the rest goes through.
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data.substr(70001), r));
    EXPECT_EQ(r.status, 200);
    Json::Value done = Over(a, Sha1Of(data), data.size());
    ASSERT_EQ(done["status"].asInt(), 200);
    EXPECT_EQ(Source(std::stoll(done["attachment"]["id"].asString())), data);
}

TEST_F(UploadTest, ClientDyingMidBodyKeepsWhatArrived) {
    std::string data = RandomBytes(100000, 5);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "dead.png", Sha1Of(data), data.size(), a));
    ASSERT_TRUE(RawPostPartial(svc.UploadPort(), PostTarget(a), data, 12345));
    WaitForBytes(12345);
    for (int i = 0; i < 200 && GetUploadByte(svc, me, a) != 12345; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(GetUploadByte(svc, me, a), 12345);
    // An incomplete upload is not confirmed and keeps its bytes.
    Json::Value early = Over(a, Sha1Of(data), data.size());
    EXPECT_EQ(early["status"].asInt(), 412);
    EXPECT_EQ(GetUploadByte(svc, me, a), 12345);
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data.substr(12345), r));
    EXPECT_EQ(Over(a, Sha1Of(data), data.size())["status"].asInt(), 200);
}

TEST_F(UploadTest, KilledServiceResumesAfterRestart) {
    std::string data = RandomBytes(400000, 6);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 1004, "crash.png", Sha1Of(data), data.size(), a));
    int fd = RawOpenPost(svc.UploadPort(), PostTarget(a), data.size(), data.substr(0, 150000));
    ASSERT_GE(fd, 0);
    WaitForBytes(150000);
    svc.Kill();
    ::close(fd);
    ASSERT_TRUE(svc.Restart()) << svc.Error();
    // Tokens, sessions and bytes survive; the upload server's port is new.
    int64_t start = GetUploadByte(svc, me, a);
    ASSERT_EQ(start, 150000);
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data.substr(150000), r));
    Json::Value done = Over(a, Sha1Of(data), data.size());
    ASSERT_EQ(done["status"].asInt(), 200);
    EXPECT_EQ(Source(std::stoll(done["attachment"]["id"].asString()), 1004), data);
}

TEST_F(UploadTest, Sha1MismatchDiscardsTheBytes) {
    std::string announced = RandomBytes(50000, 7);
    std::string sent = announced;
    sent[25000] ^= 1;
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "bad.png", Sha1Of(announced), announced.size(), a));
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), sent, r));
    ASSERT_EQ(GetUploadByte(svc, me, a), 50000);
    int64_t used = UsedBytes(svc, me);
    Json::Value v = Over(a, Sha1Of(announced), announced.size());
    EXPECT_EQ(v["status"].asInt(), 409);
    EXPECT_FALSE(v["message"].asString().empty());
    EXPECT_EQ(GetUploadByte(svc, me, a), 0);
    EXPECT_EQ(UsedBytes(svc, me), used);
    EXPECT_EQ(svc.Counter("sha1_mismatches"), 1);
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), announced, r));
    EXPECT_EQ(Over(a, Sha1Of(announced), announced.size())["status"].asInt(), 200);
}

TEST_F(UploadTest, BodyBeyondTheDeclaredSizeIsRefused) {
    std::string data = RandomBytes(1000, 8);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "big.png", Sha1Of(data), data.size(), a));
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data.substr(0, 600), r));
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data.substr(0, 401), r));
    Json::Value v;
    ASSERT_TRUE(ParseJson(r.body, v));
    EXPECT_EQ(v["status"].asInt(), 413);
    EXPECT_EQ(GetUploadByte(svc, me, a), 600);
    // A chunked body (no length) is refused too.
    RawResponse c;
    ASSERT_TRUE(
        RawExchange(svc.UploadPort(),
                    "POST " + PostTarget(a) +
                        " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
                    c));
    EXPECT_EQ(c.status, 411);
    EXPECT_EQ(GetUploadByte(svc, me, a), 600);
}

TEST_F(UploadTest, SecondWriterOfOneUploadIsTurnedAway) {
    std::string data = RandomBytes(10000, 9);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "two.png", Sha1Of(data), data.size(), a));
    int fd = RawOpenPost(svc.UploadPort(), PostTarget(a), data.size(), data.substr(0, 100));
    ASSERT_GE(fd, 0);
    WaitForBytes(100);
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data.substr(100), r));
    Json::Value v;
    ASSERT_TRUE(ParseJson(r.body, v));
    EXPECT_EQ(v["status"].asInt(), 423);
    ::close(fd);
}

TEST_F(UploadTest, UploadCallsCheckOwnerAndIds) {
    std::string data = RandomBytes(100, 10);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "own.png", Sha1Of(data), data.size(), a));
    std::string mid = std::to_string(a["attachment"]["mid"].asInt());
    std::string upid = std::to_string(a["attachment"]["upid"].asInt());
    struct Case {
        std::string query;
        int status;
    } cases[] = {
        // One answer for every wrong part of the pair: a right mid alone tells nothing.
        {"uid=100099&mid=" + mid + "&upid=" + upid, 404},
        {"uid=" + me.uid + "&mid=" + mid + "&upid=1", 404},
        {"uid=" + me.uid + "&mid=99999999&upid=" + upid, 404},
        {"uid=" + me.uid + "&mid=abc&upid=" + upid, 400},
        {"mid=" + mid + "&upid=" + upid, 400},
        {"uid=" + me.uid + "&mid=-5&upid=" + upid, 400},
    };
    for (const Case& c : cases) {
        Json::Value v;
        ASSERT_TRUE(UpGet(svc, "/v2/getupload.json?" + c.query, v)) << c.query;
        EXPECT_EQ(v["status"].asInt(), c.status) << c.query;
        RawResponse r;
        ASSERT_TRUE(RawPost(svc.UploadPort(), "/v2/upload.json?" + c.query, data, r));
        ASSERT_TRUE(ParseJson(r.body, v));
        EXPECT_EQ(v["status"].asInt(), c.status) << c.query;
    }
    EXPECT_EQ(GetUploadByte(svc, me, a), 0);
    // The ids are random positive 32-bit numbers.
    EXPECT_GT(a["attachment"]["mid"].asInt64(), 0);
    EXPECT_GT(a["attachment"]["upid"].asInt64(), 0);
    // A confirmed upload still answers the holder of its pair: getupload with its size and
    // uploadover again with 200 and its file id, so a client stopped between confirming and
    // forgetting the task completes it again.
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), data, r));
    Json::Value done = Over(a, Sha1Of(data), data.size());
    EXPECT_EQ(done["status"].asInt(), 200);
    EXPECT_EQ(GetUploadByte(svc, me, a), 100);
    EXPECT_EQ(Over(a, Sha1Of(data), data.size())["attachment"]["id"], done["attachment"]["id"]);
}

TEST_F(UploadTest, EmptyFileUploads) {
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "empty.png", Sha1Of(""), 0, a));
    ASSERT_EQ(a["attachment"]["status"].asInt(), 0);
    EXPECT_EQ(GetUploadByte(svc, me, a), 0);
    RawResponse r;
    ASSERT_TRUE(RawPost(svc.UploadPort(), PostTarget(a), "", r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(Over(a, Sha1Of(""), 0)["status"].asInt(), 200);
}

} // namespace
