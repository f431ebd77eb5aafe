// printf-style formatting of UTF-16 text.
//
// Conversions: %s takes a UTF-16 string (const char16_t*), %hs and %S a narrow byte
// string (const char*, UTF-8); %c a character (int), %d %i %u %x %X %o with the length
// modifiers h, l, ll, z and I64 (64-bit); %p; %f %e %g; %%. Flags "-+ 0#", width and
// precision (also "*") work as in C. A null string prints as "(null)". %p prints the
// address as uppercase hexadecimal digits without a prefix. %n writes nothing (its
// argument is skipped). Widths and precisions are clamped to 65536. A conversion that
// cannot be read ends the text where it begins, as a cut would.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

std::u16string FormatTextV(const char16_t* fmt, va_list ap);
std::u16string FormatText(const char16_t* fmt, ...);

// Formats into a fixed buffer of `cap` units: at most cap - 1 units survive and the
// text is always terminated. Returns the number of units written (without terminator).
std::size_t FormatToBufferV(char16_t* dst, std::size_t cap, const char16_t* fmt, va_list ap);
std::size_t FormatToBuffer(char16_t* dst, std::size_t cap, const char16_t* fmt, ...);
