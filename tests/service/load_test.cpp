// Twenty clients upload fifty small files each at the same time; every file arrives with
// the right SHA-1 and the account's used space is the sum of them.
#include "tests/service/service_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace {

TEST(ServiceLoad, TwentyClientsFiftyFilesEach) {
    ServiceProcess svc;
    struct stat st;
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        svc.SetTempRoot("/dev/shm");
    ASSERT_TRUE(svc.Start({"--demo"})) << svc.Error();
    Login first;
    ASSERT_TRUE(LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), first));
    const int64_t usedBefore = UsedBytes(svc, first);
    const int kClients = 20, kFiles = 50;
    std::atomic<int> failures{0};
    std::atomic<int64_t> bytes{0};
    std::mutex mu;
    std::vector<std::pair<int64_t, std::string>> uploaded; // id, sha1
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            Login me; // each client logs in for itself
            if (!LogIn(svc, ServiceProcess::DemoMobile(), ServiceProcess::DemoPassword(), me)) {
                failures++;
                return;
            }
            for (int f = 0; f < kFiles; ++f) {
                std::string data = RandomBytes(512 + (c * kFiles + f) % 1500, c * 1000 + f + 1);
                int64_t id =
                    UploadWhole(svc, me, 1006,
                                "c" + std::to_string(c) + "_" + std::to_string(f) + ".png", data);
                if (id <= 0) {
                    failures++;
                    continue;
                }
                bytes += static_cast<int64_t>(data.size());
                std::lock_guard<std::mutex> lock(mu);
                uploaded.emplace_back(id, Sha1Of(data));
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    ASSERT_EQ(failures.load(), 0);
    ASSERT_EQ(uploaded.size(), static_cast<size_t>(kClients * kFiles));
    EXPECT_EQ(UsedBytes(svc, first), usedBefore + bytes.load());
    EXPECT_EQ(svc.Counter("uploads_finished"), kClients * kFiles);
    Json::Value v;
    ASSERT_TRUE(
        ApiGet(svc, "/getfilesforpc.json?" + Auth(first) + "&mid=-1&folderid=1006&num=1000", v));
    EXPECT_EQ(v["attachment"]["size"].asInt(), kClients * kFiles);
    std::map<std::string, std::string> sources; // id -> source address
    for (const Json::Value& e : v["attachment"]["filelist"])
        sources[e["id"].asString()] = e["source"].asString();
    for (const auto& [id, sha1] : uploaded)
        ASSERT_EQ(Sha1Of(Fetch(svc, sources[std::to_string(id)])), sha1) << id;
}

} // namespace
