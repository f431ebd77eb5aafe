#include "base/md5.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string Md5Of(const char* s) {
    return Md5Hex(s, std::strlen(s));
}

TEST(Md5, StandardVectors) {
    EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Of("1234567890123456789012345678901234567890123456789012345678901234567890"
                    "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseFeedAndPaddingBoundaries) {
    // 55, 56 and 64 bytes put the length field in the same block, the next one, and a
    // whole padding block respectively.
    EXPECT_EQ(Md5Hex(std::string(55, 'a').data(), 55), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5Hex(std::string(56, 'a').data(), 56), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5Hex(std::string(64, 'a').data(), 64), "014842d480b571495a4a0363793f7367");

    std::string million(1000000, 'a');
    Md5 h;
    for (size_t off = 0, step = 1; off < million.size(); step = step * 5 % 997 + 1) {
        size_t n = std::min(step, million.size() - off);
        h.Update(million.data() + off, n);
        off += n;
    }
    EXPECT_EQ(h.HexFinal(), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, FinalWritesRawBytesAndStartsOver) {
    Md5 h;
    h.Update("a", 1);
    h.Update(nullptr, 0);
    h.Update("bc", 2);
    uint8_t out[16];
    h.Final(out);
    const uint8_t expect[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(std::memcmp(out, expect, 16), 0);
    EXPECT_EQ(h.HexFinal(), "d41d8cd98f00b204e9800998ecf8427e");
}

} // namespace
