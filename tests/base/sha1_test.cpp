#include "base/sha1.h"
#include "base/sha1_blocks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Runs the test body once on each block function this machine can use.
class Sha1Test : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam() && !Sha1ShaNiAvailable())
            GTEST_SKIP() << "no SHA instructions on this processor";
        if (GetParam())
            ::unsetenv("QUMO_SHA1_PORTABLE");
        else
            ::setenv("QUMO_SHA1_PORTABLE", "1", 1);
        ASSERT_EQ(Sha1UsesShaNi(), GetParam());
    }
    void TearDown() override { ::unsetenv("QUMO_SHA1_PORTABLE"); }
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

// Digest of `data` by the system's sha1sum, for an independent answer.
std::string SystemSha1(const std::vector<uint8_t>& data) {
    char path[] = "/tmp/qumo-sha1-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0)
        return "mkstemp failed";
    size_t done = 0;
    while (done < data.size()) {
        ssize_t w = ::write(fd, data.data() + done, data.size() - done);
        if (w <= 0)
            break;
        done += static_cast<size_t>(w);
    }
    ::close(fd);
    std::string cmd = std::string("sha1sum ") + path;
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[128];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        ::pclose(p);
    }
    ::unlink(path);
    return out.substr(0, 40);
}

TEST_P(Sha1Test, StandardVectors) {
    EXPECT_EQ(Sha1Hex("", 0), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1Hex("abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
    const char* m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha1Hex(m448, std::strlen(m448)), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    const char* m896 = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjk"
                       "lmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    EXPECT_EQ(Sha1Hex(m896, std::strlen(m896)), "a49b2446a02c645bf419f995b67091253a04a259");

    // A million 'a', fed in uneven pieces so the carry-over buffer is exercised.
    std::string a(1000000, 'a');
    Sha1 h;
    size_t off = 0;
    for (size_t step = 1; off < a.size(); step = step * 3 % 1021 + 1) {
        size_t n = std::min(step, a.size() - off);
        h.Update(a.data() + off, n);
        off += n;
    }
    EXPECT_EQ(h.HexFinal(), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(Sha1Hex(a.data(), a.size()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST_P(Sha1Test, FinalStartsOverAndWritesRawBytes) {
    Sha1 h;
    h.Update("abc", 3);
    uint8_t out[20];
    h.Final(out);
    const uint8_t expect[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
    EXPECT_EQ(std::memcmp(out, expect, 20), 0);
    // After Final the object hashes afresh.
    EXPECT_EQ(h.HexFinal(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    h.Update("a", 1);
    h.Update(nullptr, 0);
    h.Update("bc", 2);
    EXPECT_EQ(h.HexFinal(), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

// Sizes around every block boundary and around a few larger round sizes,
// checked against sha1sum; the feed is split at a point that is not block aligned.
TEST_P(Sha1Test, MatchesSystemToolAroundBoundaries) {
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    for (size_t base : {10240u, 20480u, 65536u})
        for (size_t d = 0; d < 130; ++d)
            sizes.push_back(base - 65 + d);
    auto data = RandomBytes(70000, 7);
    std::string batch;
    for (size_t n : sizes) {
        std::vector<uint8_t> part(data.begin(), data.begin() + static_cast<ptrdiff_t>(n));
        Sha1 h;
        size_t cut = n / 3;
        h.Update(part.data(), cut);
        h.Update(part.data() + cut, n - cut);
        std::string ours = h.HexFinal();
        ASSERT_EQ(ours, Sha1Hex(part.data(), n)) << "size " << n;
        // Running sha1sum for all ~600 sizes is slow; check a spread of them.
        if (n % 7 == 0 || n % 64 == 0 || n % 64 == 63 || n % 64 == 55 || n % 64 == 56) {
            ASSERT_EQ(ours, SystemSha1(part)) << "size " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BlockFunctions, Sha1Test, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ShaNi" : "Portable"; });

// The two block functions agree on random states and multi-block runs.
TEST(Sha1Blocks, PortableAndShaNiAgree) {
    if (!Sha1ShaNiAvailable())
        GTEST_SKIP() << "no SHA instructions on this processor";
    std::mt19937 gen(42);
    for (int round = 0; round < 200; ++round) {
        size_t blocks = 1 + gen() % 40;
        auto data = RandomBytes(blocks * 64, gen());
        uint32_t a[5], b[5];
        for (int i = 0; i < 5; ++i)
            a[i] = b[i] = static_cast<uint32_t>(gen());
        Sha1BlocksPortable(a, data.data(), blocks);
        Sha1BlocksShaNi(b, data.data(), blocks);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "round " << round;
    }
}

TEST(Sha1Blocks, EnvironmentForcesPortable) {
    ::setenv("QUMO_SHA1_PORTABLE", "1", 1);
    EXPECT_FALSE(Sha1UsesShaNi());
    ::setenv("QUMO_SHA1_PORTABLE", "0", 1);
    EXPECT_EQ(Sha1UsesShaNi(), Sha1ShaNiAvailable());
    ::unsetenv("QUMO_SHA1_PORTABLE");
    EXPECT_EQ(Sha1UsesShaNi(), Sha1ShaNiAvailable());
}

} // namespace
