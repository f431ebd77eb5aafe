// SHA-1 block function on the x86 SHA instructions. Only called when the processor has
// them (see Sha1ShaNiAvailable), so this file alone is compiled for them.
#include "base/sha1_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define QUMO_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Message group i (words 4i..4i+3) lives in m[i & 3]; from group 4 on it replaces the
// group four back: W[t] = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]).
#define QUMO_SHA1_SCHEDULE(i)                                                                      \
    m[(i)&3] = _mm_sha1msg2_epu32(                                                                 \
        _mm_xor_si128(_mm_sha1msg1_epu32(m[(i)&3], m[((i) + 1) & 3]), m[((i) + 2) & 3]),           \
        m[((i) + 3) & 3])

// Four rounds on group i: e comes from the state before the previous four rounds.
#define QUMO_SHA1_ROUNDS(i)                                                                        \
    e = _mm_sha1nexte_epu32(prev, m[(i)&3]);                                                       \
    prev = abcd;                                                                                   \
    abcd = _mm_sha1rnds4_epu32(abcd, e, (i) / 5)

#define QUMO_SHA1_GROUP(i)                                                                         \
    QUMO_SHA1_SCHEDULE(i);                                                                         \
    QUMO_SHA1_ROUNDS(i)

QUMO_SHA_TARGET void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* blocks, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    // The instructions keep A in the highest lane; E rides alone in the highest lane.
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

    for (; count > 0; --count, blocks += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(in + i), byteSwap);

        __m128i e = _mm_add_epi32(e0, m[0]);
        __m128i prev = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e, 0);
        QUMO_SHA1_ROUNDS(1);
        QUMO_SHA1_ROUNDS(2);
        QUMO_SHA1_ROUNDS(3);
        QUMO_SHA1_GROUP(4);
        QUMO_SHA1_GROUP(5);
        QUMO_SHA1_GROUP(6);
        QUMO_SHA1_GROUP(7);
        QUMO_SHA1_GROUP(8);
        QUMO_SHA1_GROUP(9);
        QUMO_SHA1_GROUP(10);
        QUMO_SHA1_GROUP(11);
        QUMO_SHA1_GROUP(12);
        QUMO_SHA1_GROUP(13);
        QUMO_SHA1_GROUP(14);
        QUMO_SHA1_GROUP(15);
        QUMO_SHA1_GROUP(16);
        QUMO_SHA1_GROUP(17);
        QUMO_SHA1_GROUP(18);
        QUMO_SHA1_GROUP(19);

        e0 = _mm_sha1nexte_epu32(prev, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#else

// Never chosen on other processors; kept so the symbol exists everywhere.
void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* blocks, size_t count) {
    Sha1BlocksPortable(state, blocks, count);
}

#endif
