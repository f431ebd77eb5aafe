// SHA-1 (FIPS 180) message digest.
//
// The block function is picked when a Sha1 is made: the x86 SHA instructions when the
// processor has them, the portable code otherwise. QUMO_SHA1_PORTABLE=1 in the
// environment forces the portable code (tests use it to check both).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha1 {
public:
    Sha1();
    void Update(const void* data, size_t n);
    // Writes the 20-byte digest. The object then starts over, as if new.
    void Final(uint8_t out[20]);
    // Final() as 40 lowercase hexadecimal digits.
    std::string HexFinal();

private:
    void Reset();

    using Compress = void (*)(uint32_t state[5], const uint8_t* blocks, size_t count);
    Compress m_compress;
    uint32_t m_state[5];
    uint64_t m_length; // bytes fed so far
    uint8_t m_block[64];
    size_t m_used; // bytes waiting in m_block
};

std::string Sha1Hex(const void* data, size_t n);
