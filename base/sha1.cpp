#include "base/sha1.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "base/sha1_blocks.h"

#include <cstdlib>
#include <cstring>

namespace {

inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

bool PortableForced() {
    const char* v = std::getenv("QUMO_SHA1_PORTABLE");
    return v != nullptr && v[0] == '1';
}

} // namespace

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* blocks, size_t count) {
    for (; count > 0; --count, blocks += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe32(blocks + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        // The schedule is kept as a 16-word ring: word t overwrites word t - 16.
        auto next = [&w](int t) {
            uint32_t x = w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15];
            return w[t & 15] = Rol(x, 1);
        };
        auto step = [&](uint32_t f, uint32_t k, uint32_t wt) {
            uint32_t t = Rol(a, 5) + f + e + k + wt;
            e = d;
            d = c;
            c = Rol(b, 30);
            b = a;
            a = t;
        };
#pragma GCC unroll 20
        for (int t = 0; t < 16; ++t)
            step(d ^ (b & (c ^ d)), 0x5A827999, w[t]);
#pragma GCC unroll 20
        for (int t = 16; t < 20; ++t)
            step(d ^ (b & (c ^ d)), 0x5A827999, next(t));
#pragma GCC unroll 20
        for (int t = 20; t < 40; ++t)
            step(b ^ c ^ d, 0x6ED9EBA1, next(t));
#pragma GCC unroll 20
        for (int t = 40; t < 60; ++t)
            step((b & c) | (d & (b | c)), 0x8F1BBCDC, next(t));
#pragma GCC unroll 20
        for (int t = 60; t < 80; ++t)
            step(b ^ c ^ d, 0xCA62C1D6, next(t));
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

bool Sha1ShaNiAvailable() {
    static const bool available = [] {
#if defined(__x86_64__) || defined(__i386__)
        // cpuid directly: clang does not know the "sha" feature name of __builtin_cpu_supports.
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d))
            return false;
        const bool ssse3 = (c & bit_SSSE3) != 0;
        const bool sse41 = (c & bit_SSE4_1) != 0;
        if (__get_cpuid_max(0, nullptr) < 7)
            return false;
        __cpuid_count(7, 0, a, b, c, d);
        const bool sha = (b & bit_SHA) != 0;
        return sha && ssse3 && sse41;
#else
        return false;
#endif
    }();
    return available;
}

bool Sha1UsesShaNi() {
    return Sha1ShaNiAvailable() && !PortableForced();
}

Sha1::Sha1() : m_compress(Sha1UsesShaNi() ? &Sha1BlocksShaNi : &Sha1BlocksPortable) {
    Reset();
}

void Sha1::Reset() {
    m_state[0] = 0x67452301;
    m_state[1] = 0xEFCDAB89;
    m_state[2] = 0x98BADCFE;
    m_state[3] = 0x10325476;
    m_state[4] = 0xC3D2E1F0;
    m_length = 0;
    m_used = 0;
}

void Sha1::Update(const void* data, size_t n) {
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
        m_compress(m_state, m_block, 1);
        m_used = 0;
    }
    // Whole blocks go straight from the caller's buffer, without a copy.
    if (n >= 64) {
        m_compress(m_state, p, n / 64);
        p += n & ~size_t(63);
        n &= 63;
    }
    if (n > 0) {
        std::memcpy(m_block, p, n);
        m_used = n;
    }
}

void Sha1::Final(uint8_t out[20]) {
    const uint64_t bits = m_length * 8;
    uint8_t pad[72] = {0x80};
    size_t padLen = (m_used < 56 ? 56 : 120) - m_used;
    for (int i = 0; i < 8; ++i)
        pad[padLen + i] = uint8_t(bits >> (56 - 8 * i));
    Update(pad, padLen + 8);
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = uint8_t(m_state[i] >> 24);
        out[4 * i + 1] = uint8_t(m_state[i] >> 16);
        out[4 * i + 2] = uint8_t(m_state[i] >> 8);
        out[4 * i + 3] = uint8_t(m_state[i]);
    }
    Reset();
}

std::string Sha1::HexFinal() {
    static const char kHex[] = "0123456789abcdef";
    uint8_t digest[20];
    Final(digest);
    std::string s(40, '0');
    for (int i = 0; i < 20; ++i) {
        s[2 * i] = kHex[digest[i] >> 4];
        s[2 * i + 1] = kHex[digest[i] & 15];
    }
    return s;
}

std::string Sha1Hex(const void* data, size_t n) {
    Sha1 h;
    h.Update(data, n);
    return h.HexFinal();
}
