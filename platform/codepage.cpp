#include "platform/codepage.h"

#include <cstring>

namespace platform {

namespace {

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

} // namespace

char32_t NextChar(std::u16string_view text, std::size_t& i) {
    char32_t c = text[i++];
    if (!IsSurrogate(c))
        return c;
    if (c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return kLoneSurrogateFirst + (c - 0xD800);
}

int Utf8Bytes(char32_t c, char out[4]) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

void AppendChar(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else if (c >= kLoneSurrogateFirst) {
        out += static_cast<char16_t>(0xD800 + (c - kLoneSurrogateFirst));
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

std::string ToNarrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    char bytes[4];
    for (std::size_t i = 0; i < text.size();)
        out.append(bytes, static_cast<std::size_t>(Utf8Bytes(NextChar(text, i), bytes)));
    return out;
}

std::u16string FromNarrow(std::string_view b) {
    std::u16string out;
    out.reserve(b.size());
    std::size_t i = 0;
    while (i < b.size()) {
        unsigned char c = static_cast<unsigned char>(b[i]);
        int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > b.size()) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        char32_t v = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
        bool ok = true;
        for (int k = 1; k < n; ++k) {
            unsigned char cc = static_cast<unsigned char>(b[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            v = (v << 6) | (cc & 0x3F);
        }
        static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || v < kMin[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        AppendChar(out, v);
        i += n;
    }
    return out;
}

std::size_t U16Len(const char16_t* s) {
    std::size_t n = 0;
    if (s)
        while (s[n])
            ++n;
    return n;
}

int WideToNarrow(const char16_t* src, char* dst, int cap) {
    if (!src || !dst || cap <= 0)
        return 0;
    std::string s = ToNarrow(std::u16string_view(src, U16Len(src)));
    if (s.size() + 1 > static_cast<std::size_t>(cap)) {
        dst[0] = 0;
        return 0;
    }
    std::memcpy(dst, s.data(), s.size());
    dst[s.size()] = 0;
    return static_cast<int>(s.size() + 1);
}

int NarrowToWide(const char* src, char16_t* dst, int cap) {
    if (!src || !dst || cap <= 0)
        return 0;
    std::u16string s = FromNarrow(std::string_view(src));
    if (s.size() + 1 > static_cast<std::size_t>(cap)) {
        dst[0] = 0;
        return 0;
    }
    std::memcpy(dst, s.data(), s.size() * sizeof(char16_t));
    dst[s.size()] = 0;
    return static_cast<int>(s.size() + 1);
}

} // namespace platform
