#include "service/secrets.h"

#include <sys/random.h>

#include <cerrno>

namespace qumo_service {

namespace {

bool Fill(unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t got = ::getrandom(p, n, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace

std::string RandomHex(size_t bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string raw(bytes, '\0');
    if (!Fill(reinterpret_cast<unsigned char*>(raw.data()), bytes))
        return std::string();
    std::string out;
    out.reserve(bytes * 2);
    for (unsigned char b : raw) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

int64_t RandomId31() {
    for (;;) {
        uint32_t v = 0;
        if (!Fill(reinterpret_cast<unsigned char*>(&v), sizeof v))
            return -1;
        v &= 0x7FFFFFFFu;
        if (v != 0)
            return static_cast<int64_t>(v);
    }
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool IsCap(const std::string& s) {
    if (s.size() != kCapBytes * 2)
        return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace qumo_service
