#include "base/md5.h"

#include <cstring>

namespace {

inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Per-round shift amounts and additive constants (floor(abs(sin(i + 1)) * 2^32)).
constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

} // namespace

Md5::Md5() {
    Reset();
}

void Md5::Reset() {
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_length = 0;
    m_used = 0;
}

void Md5::Blocks(const uint8_t* p, size_t count) {
    for (; count > 0; --count, p += 64) {
        uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = uint32_t(p[4 * i]) | (uint32_t(p[4 * i + 1]) << 8) |
                   (uint32_t(p[4 * i + 2]) << 16) | (uint32_t(p[4 * i + 3]) << 24);
        uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) & 15;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) & 15;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) & 15;
            }
            uint32_t t = d;
            d = c;
            c = b;
            b = b + Rol(a + f + kSine[i] + x[g], kShift[i]);
            a = t;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
    }
}

void Md5::Update(const void* data, size_t n) {
    // Also keeps a null pointer with no bytes away from memcpy.
    if (n == 0)
        return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    m_length += n;
    if (m_used > 0) {
        size_t take = 64 - m_used < n ? 64 - m_used : n;
        std::memcpy(m_block + m_used, p, take);
        m_used += take;
        p += take;
        n -= take;
        if (m_used < 64)
            return;
        Blocks(m_block, 1);
        m_used = 0;
    }
    if (n >= 64) {
        Blocks(p, n / 64);
        p += n & ~size_t(63);
        n &= 63;
    }
    if (n > 0) {
        std::memcpy(m_block, p, n);
        m_used = n;
    }
}

void Md5::Final(uint8_t out[16]) {
    const uint64_t bits = m_length * 8;
    uint8_t pad[72] = {0x80};
    size_t padLen = (m_used < 56 ? 56 : 120) - m_used;
    for (int i = 0; i < 8; ++i)
        pad[padLen + i] = uint8_t(bits >> (8 * i));
    Update(pad, padLen + 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = uint8_t(m_state[i] >> (8 * j));
    Reset();
}

std::string Md5::HexFinal() {
    static const char kHex[] = "0123456789abcdef";
    uint8_t digest[16];
    Final(digest);
    std::string s(32, '0');
    for (int i = 0; i < 16; ++i) {
        s[2 * i] = kHex[digest[i] >> 4];
        s[2 * i + 1] = kHex[digest[i] & 15];
    }
    return s;
}

std::string Md5Hex(const void* data, size_t n) {
    Md5 h;
    h.Update(data, n);
    return h.HexFinal();
}
