// MD5 (RFC 1321) message digest; used for the login password digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
public:
    Md5();
    void Update(const void* data, size_t n);
    // Writes the 16-byte digest. The object then starts over, as if new.
    void Final(uint8_t out[16]);
    // Final() as 32 lowercase hexadecimal digits.
    std::string HexFinal();

private:
    void Reset();
    void Blocks(const uint8_t* p, size_t count);

    uint32_t m_state[4];
    uint64_t m_length; // bytes fed so far
    uint8_t m_block[64];
    size_t m_used; // bytes waiting in m_block
};

std::string Md5Hex(const void* data, size_t n);
