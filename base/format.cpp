#include "base/format.h"

#include "platform/codepage.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Widths and precisions beyond this are clamped: no message needs more, and an absurd
// value read from a format must not make us allocate gigabytes.
constexpr int kMaxFieldWidth = 1 << 16;

// Receives the formatted units. A bounded sink drops everything past its capacity and
// says so, which lets the formatter stop early.
class Sink {
public:
    Sink(std::u16string* str, char16_t* buf, std::size_t cap)
        : m_str(str), m_buf(buf), m_cap(cap) {}

    bool Full() const { return m_buf && m_len + 1 >= m_cap; }
    void Put(char16_t c) {
        if (m_str) {
            m_str->push_back(c);
            ++m_len;
        } else if (!Full()) {
            m_buf[m_len++] = c;
        }
    }
    void Repeat(char16_t c, int n) {
        for (int i = 0; i < n && !Full(); ++i)
            Put(c);
    }
    void PutAscii(std::string_view s) {
        for (char c : s) {
            if (Full())
                return;
            Put(static_cast<unsigned char>(c));
        }
    }
    void PutUnits(std::u16string_view s) {
        for (char16_t c : s) {
            if (Full())
                return;
            Put(c);
        }
    }
    std::size_t Length() const { return m_len; }
    void Terminate() {
        if (m_buf && m_cap > 0)
            m_buf[m_len] = 0;
    }

private:
    std::u16string* m_str;
    char16_t* m_buf;
    std::size_t m_cap;
    std::size_t m_len = 0;
};

enum class Length { None, Hh, H, L, Ll, Big, Z, J, T, I64, I32 };

struct Conv {
    bool left = false, plus = false, space = false, zero = false, alt = false;
    int width = 0;
    int precision = -1;
    Length length = Length::None;
    char16_t conv = 0;
};

int Clamp(long long v) {
    return v > kMaxFieldWidth ? kMaxFieldWidth : static_cast<int>(v);
}

// Reads a decimal number at p; clamps instead of overflowing.
int ReadNumber(const char16_t*& p) {
    long long v = 0;
    while (*p >= u'0' && *p <= u'9') {
        if (v <= kMaxFieldWidth)
            v = v * 10 + (*p - u'0');
        ++p;
    }
    return Clamp(v);
}

// Pads `body` to the field width the way C does for strings.
void PutPadded(Sink& out, const Conv& sp, std::u16string_view body) {
    int pad =
        sp.width > static_cast<int>(body.size()) ? sp.width - static_cast<int>(body.size()) : 0;
    if (!sp.left)
        out.Repeat(u' ', pad);
    out.PutUnits(body);
    if (sp.left)
        out.Repeat(u' ', pad);
}

// Builds the narrow conversion for snprintf from the parsed flags (never with a length
// modifier other than the one given, never with '*').
std::string NarrowConv(const Conv& sp, const char* length, char conv) {
    std::string f = "%";
    if (sp.left)
        f += '-';
    if (sp.plus)
        f += '+';
    if (sp.space)
        f += ' ';
    if (sp.zero)
        f += '0';
    if (sp.alt)
        f += '#';
    if (sp.width > 0)
        f += std::to_string(sp.width);
    if (sp.precision >= 0)
        f += '.' + std::to_string(sp.precision);
    f += length;
    f += conv;
    return f;
}

template <typename T> void PutNumber(Sink& out, const std::string& fmt, T value) {
    char small[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = std::snprintf(small, sizeof small, fmt.c_str(), value);
    if (n < 0)
        return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.PutAscii(std::string_view(small, static_cast<std::size_t>(n)));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt.c_str(), value);
#pragma GCC diagnostic pop
    out.PutAscii(std::string_view(big.data(), static_cast<std::size_t>(n)));
}

void PutSigned(Sink& out, const Conv& sp, va_list& ap) {
    long long v;
    switch (sp.length) {
    case Length::Hh:
        v = static_cast<signed char>(va_arg(ap, int));
        break;
    case Length::H:
        v = static_cast<short>(va_arg(ap, int));
        break;
    case Length::L:
        v = va_arg(ap, long);
        break;
    case Length::Ll:
    case Length::I64:
        v = va_arg(ap, long long);
        break;
    case Length::Z:
    case Length::T:
        v = static_cast<long long>(va_arg(ap, std::ptrdiff_t));
        break;
    case Length::J:
        v = static_cast<long long>(va_arg(ap, std::intmax_t));
        break;
    default:
        v = va_arg(ap, int);
        break;
    }
    PutNumber(out, NarrowConv(sp, "ll", 'd'), v);
}

void PutUnsigned(Sink& out, const Conv& sp, va_list& ap, char conv) {
    unsigned long long v;
    switch (sp.length) {
    case Length::Hh:
        v = static_cast<unsigned char>(va_arg(ap, unsigned));
        break;
    case Length::H:
        v = static_cast<unsigned short>(va_arg(ap, unsigned));
        break;
    case Length::L:
        v = va_arg(ap, unsigned long);
        break;
    case Length::Ll:
    case Length::I64:
        v = va_arg(ap, unsigned long long);
        break;
    case Length::Z:
    case Length::T:
        v = va_arg(ap, std::size_t);
        break;
    case Length::J:
        v = va_arg(ap, std::uintmax_t);
        break;
    default:
        v = va_arg(ap, unsigned);
        break;
    }
    PutNumber(out, NarrowConv(sp, "ll", conv), v);
}

void PutFloat(Sink& out, const Conv& sp, va_list& ap, char conv) {
    if (sp.length == Length::Big)
        PutNumber(out, NarrowConv(sp, "L", conv), va_arg(ap, long double));
    else
        PutNumber(out, NarrowConv(sp, "", conv), va_arg(ap, double));
}

void PutString(Sink& out, const Conv& sp, va_list& ap, bool wide) {
    std::u16string converted;
    std::u16string_view s;
    if (wide) {
        const char16_t* p = va_arg(ap, const char16_t*);
        if (!p) {
            s = u"(null)";
        } else if (sp.precision >= 0) {
            // Never read past the precision: the text need not be terminated.
            std::size_t n = 0;
            while (n < static_cast<std::size_t>(sp.precision) && p[n])
                ++n;
            s = std::u16string_view(p, n);
        } else {
            s = std::u16string_view(p, platform::U16Len(p));
        }
    } else {
        const char* p = va_arg(ap, const char*);
        if (!p) {
            s = u"(null)";
        } else {
            std::size_t n = 0;
            if (sp.precision >= 0) {
                while (n < static_cast<std::size_t>(sp.precision) && p[n])
                    ++n;
            } else {
                n = std::strlen(p);
            }
            converted = platform::FromNarrow(std::string_view(p, n));
            s = converted;
        }
    }
    if (sp.precision >= 0 && s.size() > static_cast<std::size_t>(sp.precision))
        s = s.substr(0, static_cast<std::size_t>(sp.precision));
    PutPadded(out, sp, s);
}

void PutChar(Sink& out, const Conv& sp, va_list& ap, bool wide) {
    int v = va_arg(ap, int);
    char16_t c =
        wide ? static_cast<char16_t>(v) : static_cast<char16_t>(static_cast<unsigned char>(v));
    PutPadded(out, sp, std::u16string_view(&c, 1));
}

// Reads flags, width, precision and length of one conversion; p points after the '%'.
// Returns false for a conversion we do not understand.
bool ParseConv(const char16_t*& p, Conv& sp, va_list& ap) {
    for (;; ++p) {
        if (*p == u'-')
            sp.left = true;
        else if (*p == u'+')
            sp.plus = true;
        else if (*p == u' ')
            sp.space = true;
        else if (*p == u'0')
            sp.zero = true;
        else if (*p == u'#')
            sp.alt = true;
        else
            break;
    }
    if (*p == u'*') {
        int w = va_arg(ap, int);
        if (w < 0) {
            sp.left = true;
            w = w == INT_MIN ? INT_MAX : -w;
        }
        sp.width = Clamp(w);
        ++p;
    } else {
        sp.width = ReadNumber(p);
    }
    if (*p == u'.') {
        ++p;
        if (*p == u'*') {
            int pr = va_arg(ap, int);
            sp.precision = pr < 0 ? -1 : Clamp(pr);
            ++p;
        } else {
            sp.precision = ReadNumber(p);
        }
    }
    switch (*p) {
    case u'h':
        ++p;
        sp.length = Length::H;
        if (*p == u'h') {
            ++p;
            sp.length = Length::Hh;
        }
        break;
    case u'l':
        ++p;
        sp.length = Length::L;
        if (*p == u'l') {
            ++p;
            sp.length = Length::Ll;
        }
        break;
    case u'L':
        ++p;
        sp.length = Length::Big;
        break;
    case u'z':
        ++p;
        sp.length = Length::Z;
        break;
    case u'j':
        ++p;
        sp.length = Length::J;
        break;
    case u't':
        ++p;
        sp.length = Length::T;
        break;
    case u'w':
        ++p;
        sp.length = Length::L;
        break;
    case u'I':
        if (p[1] == u'6' && p[2] == u'4') {
            p += 3;
            sp.length = Length::I64;
        } else if (p[1] == u'3' && p[2] == u'2') {
            p += 3;
            sp.length = Length::I32;
        } else {
            ++p;
            sp.length = Length::Z;
        }
        break;
    default:
        break;
    }
    sp.conv = *p;
    if (sp.conv == 0)
        return false;
    ++p;
    return true;
}

// Formats until the end of `fmt`, a full bounded sink, or a conversion we cannot read
// (the text then stops where that conversion began).
void Format(Sink& out, const char16_t* fmt, va_list ap) {
    if (!fmt)
        return;
    va_list args;
    va_copy(args, ap);
    const char16_t* p = fmt;
    while (*p && !out.Full()) {
        if (*p != u'%') {
            out.Put(*p++);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.Put(u'%');
            ++p;
            continue;
        }
        Conv sp;
        if (!ParseConv(p, sp, args))
            break;
        bool ok = true;
        switch (sp.conv) {
        case u'd':
        case u'i':
            PutSigned(out, sp, args);
            break;
        case u'u':
            PutUnsigned(out, sp, args, 'u');
            break;
        case u'x':
            PutUnsigned(out, sp, args, 'x');
            break;
        case u'X':
            PutUnsigned(out, sp, args, 'X');
            break;
        case u'o':
            PutUnsigned(out, sp, args, 'o');
            break;
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            PutFloat(out, sp, args, static_cast<char>(sp.conv));
            break;
        case u's':
            PutString(out, sp, args, sp.length != Length::H);
            break;
        case u'S':
            PutString(out, sp, args, sp.length == Length::L);
            break;
        case u'c':
            PutChar(out, sp, args, sp.length != Length::H);
            break;
        case u'C':
            PutChar(out, sp, args, sp.length == Length::L);
            break;
        case u'p': {
            Conv ps;
            ps.width = sp.width;
            ps.left = sp.left;
            ps.precision = 2 * static_cast<int>(sizeof(void*));
            PutNumber(out, NarrowConv(ps, "ll", 'X'),
                      static_cast<unsigned long long>(
                          reinterpret_cast<std::uintptr_t>(va_arg(args, void*))));
            break;
        }
        case u'n':
            // Writing through a pointer taken from the arguments is never wanted; the
            // argument is consumed so the ones after it still line up.
            (void)va_arg(args, void*);
            break;
        default:
            ok = false;
            break;
        }
        if (!ok)
            break;
    }
    va_end(args);
}

} // namespace

std::u16string FormatTextV(const char16_t* fmt, va_list ap) {
    std::u16string s;
    Sink out(&s, nullptr, 0);
    Format(out, fmt, ap);
    return s;
}

std::u16string FormatText(const char16_t* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::u16string s = FormatTextV(fmt, ap);
    va_end(ap);
    return s;
}

std::size_t FormatToBufferV(char16_t* dst, std::size_t cap, const char16_t* fmt, va_list ap) {
    if (!dst || cap == 0)
        return 0;
    Sink out(nullptr, dst, cap);
    Format(out, fmt, ap);
    out.Terminate();
    return out.Length();
}

std::size_t FormatToBuffer(char16_t* dst, std::size_t cap, const char16_t* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::size_t n = FormatToBufferV(dst, cap, fmt, ap);
    va_end(ap);
    return n;
}
