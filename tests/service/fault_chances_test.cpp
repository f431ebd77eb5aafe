// Faults by chance in a running service: every API call answered 500 and every upload body
// cut at 100 %, switched at run time through the admin call.
#include "tests/service/service_client.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceFaultChances, ApiFailuresAndUploadDrops) {
    ServiceProcess svc;
    ASSERT_TRUE(svc.Start({"--demo", "--fail-api-percent", "100", "--fault-seed", "3"}))
        << svc.Error();
    std::string login = "/mobilelogin.json?mobile=13800138000&pwd=" + Md5Of("qumo2012");
    RawResponse r;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(RawGet(svc.ApiPort(), login, r));
        EXPECT_EQ(r.status, 500);
    }
    // The admin calls are not API calls and answer whatever the share.
    EXPECT_EQ(svc.Counter("failed_500"), 3);
    ASSERT_TRUE(svc.SetFault("fail_api_percent", 0));
    Login me;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me));

    std::string data = RandomBytes(200000, 11);
    Json::Value a;
    ASSERT_TRUE(Announce(svc, me, 0, "cut.png", Sha1Of(data), data.size(), a));
    std::string target = "/v2/upload.json?" + UpIds(me, a);
    ASSERT_TRUE(svc.SetFault("drop_upload_percent", 100));
    RawPost(svc.UploadPort(), target, data, r);
    EXPECT_NE(r.status, 200);
    int64_t kept = GetUploadByte(svc, me, a);
    EXPECT_GE(kept, 0);
    EXPECT_LT(kept, static_cast<int64_t>(data.size()));
    EXPECT_EQ(svc.Counter("dropped_connections"), 1);

    // Off again: the rest arrives from where the cut left it.
    ASSERT_TRUE(svc.SetFault("drop_upload_percent", 0));
    ASSERT_TRUE(RawPost(svc.UploadPort(), target, data.substr(static_cast<size_t>(kept)), r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(GetUploadByte(svc, me, a), static_cast<int64_t>(data.size()));
    EXPECT_FALSE(svc.SetFault("drop_upload_percent", 101));
}

} // namespace
