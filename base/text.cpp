#include "base/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

namespace {

// Bytes written as "%XX" in query values. The percent sign appears twice in the table the
// service's own encoder uses; keeping the duplicate costs nothing and keeps them aligned.
constexpr unsigned char kEscapeSet[30] = {
    0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2F, 0x3A, 0x3B,
    0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x5B, 0x5C, 0x5D, 0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E, 0x25};

bool InEscapeSet(unsigned char b) {
    for (unsigned char e : kEscapeSet)
        if (e == b)
            return true;
    return false;
}

constexpr char kHex[] = "0123456789ABCDEF";

// Number of leading one bits of a lead byte.
int LeadingOnes(unsigned char b) {
    int n = 0;
    while (n < 8 && (b & (0x80 >> n)))
        ++n;
    return n;
}

// Decodes bytes [0, end) into dst (cap > 0), terminates it and returns the unit count.
std::size_t DecodeWalk(const unsigned char* p, std::size_t end, char16_t* dst, std::size_t cap) {
    std::size_t i = 0;
    std::size_t n = 0;
    while (i < end && n + 1 < cap) {
        unsigned char lead = p[i];
        int ones = LeadingOnes(lead);
        if (ones == 0 || ones == 1 || ones >= 7) {
            dst[n++] = lead;
            ++i;
            continue;
        }
        std::size_t size = static_cast<std::size_t>(ones);
        if (size > end - i)
            break; // the sequence runs past the given length
        if (ones == 2) {
            dst[n++] = static_cast<char16_t>(((lead & 0x1F) << 6) | (p[i + 1] & 0x3F));
        } else if (ones == 3) {
            dst[n++] = static_cast<char16_t>(((lead & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) |
                                             (p[i + 2] & 0x3F));
        } else if (ones == 4) {
            // A character beyond the BMP is a pair (or the lone surrogate its stand-in
            // names); one that is not UTF-8 is skipped, as five and six bytes are.
            bool continued = true;
            for (std::size_t k = 1; k < 4; ++k)
                continued = continued && (p[i + k] & 0xC0) == 0x80;
            const char32_t c = (static_cast<char32_t>(lead & 0x07) << 18) |
                               (static_cast<char32_t>(p[i + 1] & 0x3F) << 12) |
                               (static_cast<char32_t>(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
            if (continued && c >= 0x10000 && c <= 0x10FFFF) {
                std::u16string units;
                platform::AppendChar(units, c);
                if (n + units.size() + 1 > cap)
                    break; // a pair is never split
                for (char16_t u : units)
                    dst[n++] = u;
            }
        }
        i += size;
    }
    dst[n] = 0;
    return n;
}

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int B64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::size_t EncodeUtf8(char* dst, std::size_t cap, const char16_t* src, std::size_t count) {
    if (!dst || !src)
        return 0;
    const std::u16string_view text(src, count);
    std::size_t n = 0;
    char bytes[4];
    for (std::size_t i = 0; i < count;) {
        const std::size_t len =
            static_cast<std::size_t>(platform::Utf8Bytes(platform::NextChar(text, i), bytes));
        if (n + len > cap)
            break;
        std::memcpy(dst + n, bytes, len);
        n += len;
    }
    return n;
}

std::string EncodeUtf8(std::u16string_view src) {
    std::string out(src.size() * 4, '\0');
    out.resize(EncodeUtf8(out.data(), out.size(), src.data(), src.size()));
    return out;
}

int DecodeAnswerText(const char* bytes, int len, char16_t* dst, std::size_t cap) {
    if (!dst || cap == 0)
        return 0;
    std::size_t end = (bytes && len > 0) ? static_cast<std::size_t>(len) : 0;
    return static_cast<int>(DecodeWalk(reinterpret_cast<const unsigned char*>(bytes), end, dst,
                                       std::min<std::size_t>(cap, 0x7FFFFFFF)) +
                            1);
}

std::u16string DecodeAnswerText(std::string_view bytes) {
    std::u16string out(bytes.size() + 1, u'\0');
    out.resize(DecodeWalk(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                          out.data(), out.size()));
    return out;
}

char* EscapeUrlText(char* dst, std::size_t cap, const char* src) {
    if (!dst || cap == 0)
        return dst;
    dst[0] = 0;
    if (!src)
        return dst;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
    std::size_t n = 0;
    for (std::size_t i = 0; p[i]; ++i) {
        unsigned char b = p[i];
        char piece[6];
        std::size_t len = 0;
        std::size_t consumed = 0;
        if (!InEscapeSet(b) && b >= 0x80 && p[i + 1] != 0) {
            // Keeps a double-byte character together; UTF-8 goes out in pairs the same way.
            unsigned char c = p[i + 1];
            piece[0] = '%';
            piece[1] = kHex[b >> 4];
            piece[2] = kHex[b & 15];
            piece[3] = '%';
            piece[4] = kHex[c >> 4];
            piece[5] = kHex[c & 15];
            len = 6;
            consumed = 1;
        } else if (InEscapeSet(b) || b >= 0x80) {
            piece[0] = '%';
            piece[1] = kHex[b >> 4];
            piece[2] = kHex[b & 15];
            len = 3;
        } else {
            piece[0] = b == ' ' ? '+' : static_cast<char>(b);
            len = 1;
        }
        if (n + len + 1 > cap)
            break;
        for (std::size_t k = 0; k < len; ++k)
            dst[n++] = piece[k];
        i += consumed;
    }
    dst[n] = 0;
    return dst;
}

std::string EscapeUrlText(std::string_view src) {
    std::string in(src.substr(0, src.find('\0')));
    std::string out(in.size() * 3 + 1, '\0');
    EscapeUrlText(out.data(), out.size(), in.c_str());
    out.resize(out.find('\0'));
    return out;
}

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                          (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                          static_cast<unsigned char>(bytes[i + 2]);
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kB64[v >> 18];
        out += kB64[(v >> 12) & 63];
        out += rest == 2 ? kB64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Base64Decode(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    std::string result;
    result.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int pad = 0;
        if (last && text[i + 3] == '=')
            pad = text[i + 2] == '=' ? 2 : 1;
        int v[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4 - pad; ++k) {
            v[k] = B64Value(text[i + static_cast<std::size_t>(k)]);
            if (v[k] < 0)
                return false;
        }
        std::uint32_t bits = (static_cast<std::uint32_t>(v[0]) << 18) | (v[1] << 12) | (v[2] << 6) |
                             static_cast<std::uint32_t>(v[3]);
        // Bits the padding hides must be zero, so every value has one spelling.
        if ((pad == 1 && (bits & 0xFF) != 0) || (pad == 2 && (bits & 0xFFFF) != 0))
            return false;
        result += static_cast<char>(bits >> 16);
        if (pad < 2)
            result += static_cast<char>((bits >> 8) & 0xFF);
        if (pad < 1)
            result += static_cast<char>(bits & 0xFF);
    }
    out = std::move(result);
    return true;
}
