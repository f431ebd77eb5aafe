// Conversions between internal UTF-16 text and the narrow ("ANSI") encoding of the
// system, which is UTF-8 here. A surrogate pair is one character (four bytes). A lone
// surrogate (a broken name from a foreign file system) must neither vanish nor become bytes
// that are not UTF-8: it is written as its stand-in, one of the last 2,048 code points of
// the private use plane 16 (U+10F800 + unit - 0xD800), which reads back as the lone unit.
// Every byte string that is UTF-8 therefore reads and writes back unchanged; only a real
// U+10F800..U+10FFFF (private use, unassigned by any standard) reads back as its surrogate.
// An invalid byte reads as U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The stand-ins of lone surrogates.
inline constexpr char32_t kLoneSurrogateFirst = 0x10F800;

// The character at text[i], i advanced past it: a pair's code point, a unit of the Basic
// Multilingual Plane, or a lone surrogate's stand-in. `i` must be below text.size().
char32_t NextChar(std::u16string_view text, std::size_t& i);
// The UTF-8 bytes of a code point up to U+10FFFF into `out`; returns how many (1 to 4).
int Utf8Bytes(char32_t c, char out[4]);
// Appends the UTF-16 form of a code point up to U+10FFFF: a pair beyond the BMP, the lone
// unit a stand-in stands for.
void AppendChar(std::u16string& out, char32_t c);

// `n`, or one less when the first `n` units would end inside a surrogate pair: where text
// cut to a capacity ends, so that a character is never cut in half.
inline std::size_t WholeCharsCut(std::u16string_view text, std::size_t n) {
    if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF &&
        text[n] >= 0xDC00 && text[n] <= 0xDFFF)
        return n - 1;
    return n;
}

std::string ToNarrow(std::u16string_view text);
std::u16string FromNarrow(std::string_view bytes);

// The fixed-capacity forms the program's buffers use, like the system calls they
// replace: `src` is zero-terminated, `cap` counts destination units including the
// terminator. Returns the units written including the terminator, or 0 when the text
// does not fit (the destination then holds an empty string when cap > 0).
int WideToNarrow(const char16_t* src, char* dst, int cap);
int NarrowToWide(const char* src, char16_t* dst, int cap);

// Length of a zero-terminated UTF-16 string.
std::size_t U16Len(const char16_t* s);

} // namespace platform
