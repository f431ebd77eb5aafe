// The service's faults by chance: the share and the seed decide them, the same seed gives
// the same run whatever threads draw, and the switches parse and refuse as they should.
#include "service/faults.h"
#include "service/options.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using qumo_service::Faults;
using qumo_service::Options;

namespace {

Faults* Make(int dropPercent, int failPercent, uint64_t seed) {
    Options o;
    o.dropUploadPercent = dropPercent;
    o.failApiPercent = failPercent;
    o.faultSeed = seed;
    auto* f = new Faults;
    f->Load(o);
    return f;
}

TEST(FaultChances, ShareAndSeedDecideWhatFails) {
    std::unique_ptr<Faults> a(Make(5, 1, 42)), b(Make(5, 1, 42)), c(Make(5, 1, 43));
    int drops = 0, fails = 0;
    std::vector<int64_t> seqA, seqC;
    std::set<int64_t> budgets;
    for (int i = 0; i < 20000; ++i) {
        int64_t da = a->TakeDropBudget(1000), db = b->TakeDropBudget(1000);
        ASSERT_EQ(da, db) << i;
        seqA.push_back(da);
        seqC.push_back(c->TakeDropBudget(1000));
        if (da >= 0) {
            ++drops;
            ASSERT_LT(da, 1000);
            budgets.insert(da);
        }
        bool fa = a->TakeFailure();
        ASSERT_EQ(fa, b->TakeFailure()) << i;
        fails += fa ? 1 : 0;
    }
    // 5 % and 1 % of 20000, within a margin far beyond chance for a sound generator.
    EXPECT_GT(drops, 800);
    EXPECT_LT(drops, 1200);
    EXPECT_GT(fails, 120);
    EXPECT_LT(fails, 280);
    EXPECT_GT(budgets.size(), 300u); // the byte at which a body is cut varies
    EXPECT_NE(seqA, seqC);

    // Empty bodies are never cut; a one-byte body is cut before its byte.
    std::unique_ptr<Faults> all(Make(100, 100, 7));
    EXPECT_EQ(all->TakeDropBudget(0), -1);
    EXPECT_EQ(all->TakeDropBudget(1), 0);
    EXPECT_TRUE(all->TakeFailure());
    std::unique_ptr<Faults> none(Make(0, 0, 7));
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(none->TakeDropBudget(1 << 20), -1);
        ASSERT_FALSE(none->TakeFailure());
    }
}

TEST(FaultChances, FixedFaultsComeFirstAndSeedRestartsTheSequence) {
    std::unique_ptr<Faults> f(Make(0, 0, 1));
    std::string err;
    ASSERT_TRUE(f->Set("drop_after", "10", err));
    ASSERT_TRUE(f->Set("drop_upload_percent", "100", err));
    EXPECT_EQ(f->TakeDropBudget(5000), 10); // the one-time drop, then the chances
    int64_t next = f->TakeDropBudget(5000);
    EXPECT_GE(next, 0);
    EXPECT_LT(next, 5000);

    ASSERT_TRUE(f->Set("fail_api_percent", "0", err));
    ASSERT_TRUE(f->Set("fail_next", "1", err));
    EXPECT_TRUE(f->TakeFailure());
    EXPECT_FALSE(f->TakeFailure());

    ASSERT_TRUE(f->Set("drop_upload_percent", "50", err));
    ASSERT_TRUE(f->Set("fault_seed", "99", err));
    std::vector<int64_t> first, second;
    for (int i = 0; i < 200; ++i)
        first.push_back(f->TakeDropBudget(777));
    ASSERT_TRUE(f->Set("fault_seed", "99", err));
    for (int i = 0; i < 200; ++i)
        second.push_back(f->TakeDropBudget(777));
    EXPECT_EQ(first, second);

    std::string json = f->Json();
    EXPECT_NE(json.find("\"drop_upload_percent\":50"), std::string::npos) << json;
    EXPECT_NE(json.find("\"fail_api_percent\":0"), std::string::npos) << json;
    EXPECT_NE(json.find("\"fault_seed\":99"), std::string::npos) << json;

    for (const char* bad : {"101", "-1", "x", "", "5%"}) {
        err.clear();
        EXPECT_FALSE(f->Set("drop_upload_percent", bad, err)) << bad;
        EXPECT_FALSE(err.empty());
        EXPECT_FALSE(f->Set("fail_api_percent", bad, err)) << bad;
    }
    EXPECT_FALSE(f->Set("fault_seed", "-3", err));
}

TEST(FaultChances, ThreadsDrawFromOneSequence) {
    // Every call draws exactly one number, so the number of failures over N calls is the
    // same however the calls are spread over threads.
    const int perThread = 5000, threads = 4;
    std::unique_ptr<Faults> single(Make(0, 30, 5));
    int expected = 0;
    for (int i = 0; i < perThread * threads; ++i)
        expected += single->TakeFailure() ? 1 : 0;

    std::unique_ptr<Faults> shared(Make(0, 30, 5));
    std::atomic<int> got{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (int i = 0; i < perThread; ++i)
                got += shared->TakeFailure() ? 1 : 0;
        });
    for (std::thread& t : pool)
        t.join();
    EXPECT_EQ(got.load(), expected);
}

TEST(FaultChances, CommandLineSwitches) {
    auto parse = [](std::vector<std::string> args, Options& o, std::string& err) {
        args.insert(args.begin(), "qumo-service");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        return qumo_service::ParseOptions(static_cast<int>(argv.size()), argv.data(), o, err);
    };
    Options o;
    std::string err;
    ASSERT_TRUE(parse({"--data", "/tmp/x", "--drop-upload-percent", "5", "--fail-api-percent", "1",
                       "--fault-seed", "123456789012"},
                      o, err))
        << err;
    EXPECT_EQ(o.dropUploadPercent, 5);
    EXPECT_EQ(o.failApiPercent, 1);
    EXPECT_EQ(o.faultSeed, 123456789012u);
    Options d;
    ASSERT_TRUE(parse({"--data", "/tmp/x"}, d, err));
    EXPECT_EQ(d.dropUploadPercent, 0);
    EXPECT_EQ(d.failApiPercent, 0);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--drop-upload-percent", "101"},
                                         {"--fail-api-percent", "-1"},
                                         {"--fail-api-percent"},
                                         {"--fault-seed", "x"}}) {
        Options b;
        bad.insert(bad.begin(), {"--data", "/tmp/x"});
        EXPECT_FALSE(parse(bad, b, err)) << bad[2];
    }
}

} // namespace
