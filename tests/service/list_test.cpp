// Paging of a folder of 75 entries the way the client pages: 30, 30, then the rest, each
// page after the id of the previous page's last entry.
#include "tests/service/service_client.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ServiceList, SeventyFiveEntriesInPagesOfThirty) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start()) << svc.Error();
    // A new account through the registration page: an empty root to fill.
    std::string form = "mobile=pager&nick=pager&password=pager123&password2=pager123";
    RawResponse r;
    ASSERT_TRUE(RawExchange(svc.ApiPort(),
                            "POST /user/register HTTP/1.1\r\nContent-Type: "
                            "application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(form.size()) + "\r\n\r\n" + form,
                            r));
    Login me;
    ASSERT_TRUE(LogIn(svc, "pager", "pager123", me));
    // One real upload, then 74 instant uploads of the same content under other names.
    std::string data = RandomBytes(3000, 75);
    std::set<std::string> ids;
    for (int i = 0; i < 75; ++i) {
        int64_t id = UploadWhole(svc, me, 0, "p" + std::to_string(i) + ".png", data);
        ASSERT_GT(id, 0) << i;
        ids.insert(std::to_string(id));
    }
    EXPECT_EQ(svc.Counter("instant_uploads"), 74);
    EXPECT_EQ(UsedBytes(svc, me), 3000);

    long long mid = -1, total = -1;
    int num = 30;
    std::vector<int> pages;
    std::set<std::string> seen;
    while (true) {
        Json::Value v;
        ASSERT_TRUE(ApiGet(svc,
                           "/getfilesforpc.json?" + Auth(me) + "&mid=" + std::to_string(mid) +
                               "&folderid=0&num=" + std::to_string(num),
                           v));
        ASSERT_EQ(v["status"].asInt(), 200);
        const Json::Value& list = v["attachment"]["filelist"];
        if (total < 0)
            total = v["attachment"]["size"].asInt();
        EXPECT_EQ(v["attachment"]["size"].asInt(), 75);
        pages.push_back(static_cast<int>(list.size()));
        for (const Json::Value& e : list) {
            EXPECT_TRUE(seen.insert(e["id"].asString()).second)
                << "repeated " << e["id"].asString();
            EXPECT_GT(std::stoll(e["id"].asString()), mid);
            EXPECT_EQ(e["dirid"].asString(), "0");
        }
        ASSERT_GT(list.size(), 0u);
        mid = std::stoll(list[list.size() - 1]["id"].asString());
        long long loaded = static_cast<long long>(seen.size());
        if (total < loaded + 30) {
            num = static_cast<int>(total - loaded);
            if (num <= 0)
                break;
        } else {
            num = 30;
        }
    }
    EXPECT_EQ(pages, (std::vector<int>{30, 30, 15}));
    EXPECT_EQ(seen, ids);
    // Past the last entry there is nothing more.
    Json::Value end;
    ASSERT_TRUE(ApiGet(svc,
                       "/getfilesforpc.json?" + Auth(me) + "&mid=" + std::to_string(mid) +
                           "&folderid=0&num=30",
                       end));
    EXPECT_EQ(end["attachment"]["filelist"].size(), 0u);
}

TEST(ServiceList, MidMayNameASubFolder) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));
    // 家庭相册 (fid 1004) holds one sub-folder and 13 files, the sub-folder first.
    Json::Value first;
    ASSERT_TRUE(
        ApiGet(svc, "/getfilesforpc.json?" + Auth(me) + "&mid=-1&folderid=1004&num=1", first));
    ASSERT_EQ(first["attachment"]["filelist"].size(), 1u);
    const Json::Value& sub = first["attachment"]["filelist"][0];
    EXPECT_EQ(sub["type"].asInt(), 100);
    EXPECT_EQ(first["attachment"]["size"].asInt(), 14);
    Json::Value rest;
    ASSERT_TRUE(ApiGet(svc,
                       "/getfilesforpc.json?" + Auth(me) + "&mid=" + sub["fid"].asString() +
                           "&folderid=1004&num=30",
                       rest));
    EXPECT_EQ(rest["attachment"]["filelist"].size(), 13u);
    for (const Json::Value& e : rest["attachment"]["filelist"])
        EXPECT_NE(e["type"].asInt(), 100);
}

} // namespace
